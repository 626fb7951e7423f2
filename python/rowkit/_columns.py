"""Columns of a columnar result as Python values.

A columnar result holds, per column, one data buffer with every value's
bytes back to back and n + 1 offsets (32-bit) that delimit them. Creating
the Python objects is the expensive part, so with NumPy present no Python
step runs per value:

* Values are decoded in chunks: the chunk's bytes are copied with one
  separator byte after each value (a byte the column does not contain), the
  whole chunk is decoded once and ``str.split`` cuts it. Because the
  separator is an ASCII byte, which never occurs inside a UTF-8 sequence,
  decoding the joined chunk gives exactly the values decoded one by one
  (invalid bytes become the same surrogates).
* When a column repeats its values (cities, flags, dates), each distinct
  value becomes one ``str`` object shared by all its rows: creating objects,
  and the fresh memory they take, is what costs most. Values are keyed by
  their bytes, read as little-endian 64-bit words straight out of the
  buffer (the key is the value itself up to 16 bytes, else a hash), and the
  keys grouped; hashed groups are then compared word by word with their
  first member, so a collision can only cost speed, never change a value.
  An even sample of the column decides first whether sharing pays: an
  estimate of the number of distinct values must be small against the rows.

Without NumPy a plain loop does the same job.
"""

from __future__ import annotations

import math
import sys
import warnings
from typing import Any, List, Optional

try:
    import numpy as np
except ImportError:  # the standard-library path below still works
    np = None  # type: ignore[assignment]

# Values handled at once. Every temporary of a chunk (at most 8 bytes per
# value) stays well below 128 KiB: Dask's worker processes fix glibc's mmap
# threshold there (through MALLOC_TRIM_THRESHOLD_), and a temporary at or
# above it would be a fresh mapping, faulted in page by page, every chunk.
_CHUNK_VALUES = 1 << 12
_DEDUP_MIN_ROWS = 512
# Up to this many values are decoded one by one rather than in chunks.
_FEW_VALUES = 2048
_DEDUP_MAX_WORDS = 16
_SAMPLE_ROWS = 4096
# Sharing pays while distinct values stay below this share of the rows, for
# values keyed as they are (a hash of w words lowers it to this share / w),
# and while they are few enough for their table and objects to stay in cache.
_DEDUP_MAX_DISTINCT = 0.5
_DEDUP_MAX_GROUPS = 1 << 18
_WHITESPACE = (9, 10, 11, 12, 13, 32)

if np is not None:
    _LOW_MASKS = np.array(
        [(1 << (8 * i)) - 1 for i in range(8)] + [(1 << 64) - 1], dtype=np.uint64
    )
    _MULTIPLIERS = np.array(
        [
            0x9E3779B97F4A7C15, 0xC2B2AE3D27D4EB4F, 0x165667B19E3779F9,
            0xD6E8FEB86659FD93, 0xFF51AFD7ED558CCD, 0xC4CEB9FE1A85EC53,
            0x94D049BB133111EB, 0xBF58476D1CE4E5B9, 0x27D4EB2F165667C5,
            0x85EBCA77C2B2AE63, 0x61C8864680B583EB, 0xA0761D6478BD642F,
            0xE7037ED1A0B428DB, 0x8EBC6AF09C88C6E3, 0x589965CC75374CC3,
            0x1D8E4E27C47D124F, 0x9FB21C651E98DF25,
        ],
        dtype=np.uint64,
    )


def _decode(buffer: Any) -> str:
    return str(buffer, "utf-8", "surrogateescape")


# ---------------------------------------------------------------------------
# Standard library only
# ---------------------------------------------------------------------------


def values_list(data: bytes, offsets: List[int]) -> List[str]:
    """The values of one column as a list of ``str``, with plain Python."""
    ends = iter(offsets)
    next(ends, None)
    if data.isascii():
        text = data.decode("ascii")
        return [text[a:b] for a, b in zip(offsets, ends)]
    return [_decode(data[a:b]) for a, b in zip(offsets, ends)]


# ---------------------------------------------------------------------------
# NumPy
# ---------------------------------------------------------------------------


def _separator(data: "np.ndarray") -> Optional[int]:
    """An ASCII byte that does not occur in ``data`` (NUL when it can)."""
    if np.count_nonzero(data) == len(data):
        return 0
    counts = np.bincount(data, minlength=256)[1:128]
    free = np.flatnonzero(counts == 0)
    return int(free[0]) + 1 if len(free) else None


def _joined(data: "np.ndarray", lens: "np.ndarray", sep: int) -> "np.ndarray":
    """Values stored back to back in ``data`` with ``lens``, each followed by ``sep``."""
    k = len(lens)
    total = len(data)
    out = np.empty(total + k, dtype=np.uint8)
    ends = np.cumsum(lens)
    ends += np.arange(k)  # where each value's separator goes
    keep = np.ones(total + k, dtype=bool)
    keep[ends] = False
    out[keep] = data
    out[ends] = sep
    return out


def _decode_values(data: "np.ndarray", starts: "np.ndarray", lens: "np.ndarray",
                   out: "Optional[np.ndarray]" = None,
                   selected: "Optional[np.ndarray]" = None) -> "np.ndarray":
    """The column's values as ``str`` in an object array (``out`` when given).

    With ``selected`` (a boolean per value) only those values are decoded,
    in column order. Works chunk by chunk so that every temporary stays small.
    """
    k = len(lens) if selected is None else int(np.count_nonzero(selected))
    if out is None:
        out = np.empty(k, dtype=object)
    if k == 0:
        return out
    sep = _separator(data) if len(data) else 0
    if sep is None or (selected is not None and k <= _FEW_VALUES):
        # Few values, or every ASCII byte occurs in the column: one by one.
        raw = memoryview(data)
        picked = np.flatnonzero(selected) if selected is not None else np.arange(k)
        for i, (a, n) in enumerate(zip(starts[picked].tolist(), lens[picked].tolist())):
            out[i] = _decode(raw[a:a + n])
        return out
    sep_char = chr(sep)
    done = 0
    for a, b in _chunks(len(lens)):
        begin, end = int(starts[a]), int(starts[b - 1] + lens[b - 1])
        chunk, chunk_lens = data[begin:end], lens[a:b]
        if selected is not None:
            chunk = chunk[np.repeat(selected[a:b], chunk_lens)]
            chunk_lens = chunk_lens[selected[a:b]]
        parts = _decode(memoryview(_joined(chunk, chunk_lens, sep))).split(sep_char)
        parts.pop()
        out[done:done + len(parts)] = np.fromiter(parts, dtype=object, count=len(parts))
        done += len(parts)
    return out


def _chunks(n: int):
    for a in range(0, n, _CHUNK_VALUES):
        yield a, min(a + _CHUNK_VALUES, n)


class _Words:
    """Reads the i-th 64-bit little-endian word of many values at once."""

    def __init__(self, data: "np.ndarray") -> None:
        if len(data) < 8:
            padded = np.zeros(8, dtype=np.uint8)
            padded[: len(data)] = data
            data = padded
        # One unaligned 8-byte view starting at every byte offset.
        self._view = np.ndarray(
            shape=(len(data) - 7,), dtype="<u8", buffer=data, offset=0, strides=(1,)
        )
        self._last = len(data) - 8

    def word(self, starts: "np.ndarray", lens: "np.ndarray", j: int) -> "np.ndarray":
        pos = starts + 8 * j if j else starts
        if len(pos) and int(pos.max()) <= self._last:
            word = self._view[pos]
        else:
            at = np.minimum(pos, self._last)
            # Near the end of the buffer read the last 8 bytes and shift down.
            shift = np.minimum((pos - at) * 8, 56).astype(np.uint64)
            word = self._view[at] >> shift
        left = lens - 8 * j if j else lens
        word &= _LOW_MASKS[np.minimum(np.maximum(left, 0), 8)]
        return word


def _hash(words: _Words, starts: "np.ndarray", lens: "np.ndarray", n_words: int) -> "np.ndarray":
    h = lens.astype(np.uint64) * _MULTIPLIERS[0]
    for j in range(n_words):
        h ^= words.word(starts, lens, j)
        h *= _MULTIPLIERS[j + 1]
        h ^= h >> np.uint64(29)
    return h


def _group(h: "np.ndarray", distinct: int) -> "tuple[np.ndarray, np.ndarray]":
    """Codes (one per value) and the index of each group's first member;
    ``distinct`` estimates the number of groups."""
    pandas = sys.modules.get("pandas")
    if pandas is None:
        _, first, codes = np.unique(h, return_index=True, return_inverse=True)
        return codes.reshape(-1), first
    codes, _ = pandas.factorize(h, size_hint=distinct)
    # Codes are numbered in order of first appearance: a group starts where
    # a code passes every code before it.
    firsts = []
    top = np.array([-1], dtype=codes.dtype)
    for a, b in _chunks(len(codes)):
        running = np.maximum.accumulate(np.concatenate((top, codes[a:b])))
        firsts.append(np.flatnonzero(running[1:] > running[:-1]) + a)
        top = running[-1:]
    return codes, np.concatenate(firsts)


def _estimate_distinct(counts: "np.ndarray", n: int, limit: float) -> Optional[int]:
    """Estimated distinct values of a column of ``n`` from the counts of the
    distinct values of an even sample, or None when that passes ``limit * n``
    (sharing would not pay).

    The estimate is the bias-corrected Chao1 (distinct seen, plus the
    singletons squared over twice the doubletons). It is trusted for columns
    whose sample looks like one uniform population; a sample mixing frequent
    values with a long tail of singletons (free text) is left alone.
    """
    s = int(counts.sum())
    f1 = int(np.count_nonzero(counts == 1))
    f2 = int(np.count_nonzero(counts == 2))
    distinct = len(counts) + f1 * (f1 - 1) // (2 * (f2 + 1))
    if distinct > min(limit * n, _DEDUP_MAX_GROUPS):
        return None
    if 2 * f1 > s and 20 * (s - f1 - 2 * f2) > s:
        return None
    return max(distinct, 1)


def _shared_values(data: "np.ndarray", starts: "np.ndarray", lens: "np.ndarray"):
    """(codes, first) when the column repeats values enough, else None.
    For the columns :func:`_exact_layout` cannot key by their bytes alone,
    so values are keyed by a hash.

    ``codes`` numbers each value's group, ``first`` holds the index of one
    member of each group.
    """
    n = len(lens)
    max_len = int(lens.max())
    n_words = (max_len + 7) // 8
    if n_words > _DEDUP_MAX_WORDS:
        return None
    limit = _DEDUP_MAX_DISTINCT / n_words
    words = _Words(data)
    step = max(1, n // _SAMPLE_ROWS)
    pick = np.arange(0, n, step)
    sample = _hash(words, starts[pick], lens[pick], n_words)
    if step == 1:  # the sample is the whole column
        _, first, codes = np.unique(sample, return_index=True, return_inverse=True)
        codes = codes.reshape(-1)
        if len(first) > min(limit * n, _DEDUP_MAX_GROUPS):
            return None
    else:
        seen, seen_at, counts = np.unique(sample, return_index=True, return_counts=True)
        distinct = _estimate_distinct(counts, n, limit)
        if distinct is None:
            return None
        s = len(sample)
        # Chunks keep the temporaries small enough to stay in cache and in
        # the allocator's heap.
        keys = np.empty(n, dtype=np.uint64)
        for a, b in _chunks(n):
            keys[a:b] = _hash(words, starts[a:b], lens[a:b], n_words)
        codes = None
        if len(seen) * 4 <= s:
            # Few distinct values: the sample has likely seen them all, and a
            # binary search among them is cheaper than a hash table.
            codes = np.searchsorted(seen, keys)
            np.minimum(codes, len(seen) - 1, out=codes)
            if np.array_equal(seen[codes], keys):
                first = pick[seen_at]
            else:
                codes = None
        if codes is None:
            codes, first = _group(keys, distinct)
            # The keys are paid for: sharing still saves creating objects.
            if len(first) > 3 * n // 4:
                return None
        del keys
    # Hashes can collide: every value must equal its group's first member.
    first_starts, first_lens = starts[first], lens[first]
    first_words = [words.word(first_starts, first_lens, j) for j in range(n_words)]
    for a, b in _chunks(n):
        group = codes[a:b]
        if not np.array_equal(first_lens[group], lens[a:b]):
            return None
        for j in range(n_words):
            if not np.array_equal(first_words[j][group], words.word(starts[a:b], lens[a:b], j)):
                return None
    return codes, first


def _exact_layout(data: "np.ndarray", max_len: int) -> "Optional[tuple[int, bool]]":
    """(words, with_length) when every value of the column fits in a key
    that is the value itself, else None.

    One word holds up to 7 bytes and the length in its top byte, or 8 bytes
    when the column has no NUL byte (the zero padding then marks the end).
    Two words hold up to 16 bytes of a column without NUL that is all ASCII:
    their pair is grouped as a complex number, and ASCII keeps every byte
    below 0x80, so no pair is a NaN or a negative zero and equal numbers
    mean equal bytes.
    """
    if max_len > 16:
        return None
    nul_free = np.count_nonzero(data) == len(data)
    if max_len <= 8 and nul_free:
        return 1, False
    if max_len <= 7:
        return 1, True
    if nul_free and (len(data) == 0 or int(data.max()) < 0x80):
        return 2, False
    return None


def _exact_keys(words: _Words, starts: "np.ndarray", lens: "np.ndarray", width: int,
                with_length: bool) -> "np.ndarray":
    key = words.word(starts, lens, 0)
    if width == 1:
        if with_length:
            key |= lens.astype(np.uint64) << np.uint64(56)
        return key
    pair = np.empty((len(lens), 2), dtype=np.uint64)
    pair[:, 0] = key
    pair[:, 1] = words.word(starts, lens, 1)
    return pair.view(np.complex128).reshape(-1)


def _factorize(keys: "np.ndarray", distinct: Optional[int]) -> "tuple[np.ndarray, np.ndarray]":
    """Codes (one per key, numbering the distinct keys) and the distinct keys."""
    pandas = sys.modules.get("pandas")
    if pandas is None:
        uniques, codes = np.unique(keys, return_inverse=True)
        return codes.reshape(-1), uniques
    codes, uniques = pandas.factorize(keys, size_hint=distinct)
    return codes, np.ascontiguousarray(uniques)


def _exact_shared(data: "np.ndarray", starts: "np.ndarray", lens: "np.ndarray", width: int,
                  with_length: bool):
    """(codes, distinct) when the column repeats its values enough, else
    None: ``distinct`` holds each distinct value once as ``str`` and
    ``codes`` the index of every value's entry in it. The distinct values
    are decoded from the keys, which are the values' bytes."""
    n = len(lens)
    words = _Words(data)
    step = max(1, n // _SAMPLE_ROWS)
    distinct = None
    if step > 1:
        pick = np.arange(0, n, step)
        _, counts = np.unique(_exact_keys(words, starts[pick], lens[pick], width, with_length),
                              return_counts=True)
        distinct = _estimate_distinct(counts, n, _DEDUP_MAX_DISTINCT)
        if distinct is None:
            return None
    keys = np.empty(n, dtype=np.uint64 if width == 1 else np.complex128)
    for a, b in _chunks(n):
        keys[a:b] = _exact_keys(words, starts[a:b], lens[a:b], width, with_length)
    codes, uniques = _factorize(keys, distinct)
    del keys
    most = min(_DEDUP_MAX_DISTINCT * n, _DEDUP_MAX_GROUPS) if step == 1 else 3 * n // 4
    if len(uniques) > most:
        return None
    raw = uniques.view(np.uint8).reshape(len(uniques), 8 * width)
    if with_length:
        unique_lens = (uniques >> np.uint64(56)).astype(np.int64)
    else:
        unique_lens = np.count_nonzero(raw, axis=1).astype(np.int64)
    packed = raw[np.arange(8 * width) < unique_lens[:, None]]
    unique_starts = np.cumsum(unique_lens) - unique_lens
    return codes, _decode_values(packed, unique_starts, unique_lens)


def _bounds(offsets: "np.ndarray") -> "tuple[np.ndarray, np.ndarray]":
    starts = offsets[:-1].astype(np.int64)
    lens = offsets[1:].astype(np.int64)
    lens -= starts
    return starts, lens


def values_array(data: "np.ndarray", offsets: "np.ndarray",
                 out: "Optional[np.ndarray]" = None) -> "np.ndarray":
    """The values of one column as a NumPy object array of ``str``.

    ``data`` is the column's bytes (``uint8``), ``offsets`` its n + 1 offsets;
    the values go into ``out`` (an object array of n) when it is given.
    Equal values may share one ``str`` object.
    """
    starts, lens = _bounds(offsets)
    n = len(lens)
    if n >= _DEDUP_MIN_ROWS:
        max_len = int(lens.max())
        layout = _exact_layout(data, max_len)
        if layout is not None:
            exact = _exact_shared(data, starts, lens, *layout)
            if exact is None:
                return _decode_values(data, starts, lens, out=out)
            codes, distinct = exact
            return distinct.take(codes, out=out) if out is not None else distinct.take(codes)
        shared = _shared_values(data, starts, lens)
        if shared is not None:
            codes, first = shared
            # Decode each group's member in column order, then order them by group.
            selected = np.zeros(n, dtype=bool)
            selected[first] = True
            in_order = _decode_values(data, starts, lens, selected=selected)
            distinct = np.empty(len(first), dtype=object)
            distinct[np.argsort(first)] = in_order
            if out is None:
                return distinct.take(codes)
            return distinct.take(codes, out=out)
    return _decode_values(data, starts, lens, out=out)


def numbers_array(data: "np.ndarray", offsets: "np.ndarray", dtype: Any, column: str) -> "np.ndarray":
    """The values of one column converted to a NumPy integer or float dtype.

    Numbers are read as Python reads them (``int()`` for integer dtypes,
    ``float()`` for floating ones); an empty value is NaN in a floating
    column. A value that does not convert raises :class:`ValueError` naming
    the column and the row (0-based).
    """
    dt = np.dtype(dtype)
    if dt.kind not in "iuf":
        raise TypeError(f"column {column!r}: dtype {dt} is not an integer or floating dtype")
    starts, lens = _bounds(offsets)
    n = len(lens)
    fast = _parse_fast(data, starts, lens, dt) if n else np.empty(0, dtype=dt)
    if fast is not None:
        return fast
    return _parse_each(values_array(data, offsets), dt, column)


def _parse_fast(data: "np.ndarray", starts: "np.ndarray", lens: "np.ndarray", dt: "np.dtype"):
    """All values parsed by NumPy's text reader in one call, or None.

    The reader is used only where it is exact: no value is empty or holds
    whitespace (then every value is one token and the token count must come
    out at n), and integers that could have been clipped at the int64 limits
    go the slow way.
    """
    if lens.min() == 0:
        return None
    if len(data) and np.bincount(data, minlength=256)[list(_WHITESPACE)].any():
        return None
    text = _joined(data, lens, ord("\n")).tobytes()
    parse_as = np.float64 if dt.kind == "f" else np.int64
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        try:
            values = np.fromstring(text, dtype=parse_as, sep="\n")
        except (ValueError, DeprecationWarning):
            return None
    if len(values) != len(lens):
        return None
    if dt.kind == "f":
        return values.astype(dt, copy=False)
    limits = np.iinfo(np.int64)
    if (values == limits.max).any() or (values == limits.min).any():
        return None
    target = np.iinfo(dt)
    if values.min() < target.min or values.max() > min(target.max, limits.max):
        return None
    return values.astype(dt, copy=False)


def _parse_each(texts: "np.ndarray", dt: "np.dtype", column: str) -> "np.ndarray":
    convert = float if dt.kind == "f" else int
    out: List[Any] = []
    for row, text in enumerate(texts.tolist()):
        if not text and dt.kind == "f":
            out.append(math.nan)
            continue
        try:
            out.append(convert(text))
        except ValueError:
            raise ValueError(
                f"column {column!r}, row {row}: {text!r} is not a number of dtype {dt}"
            ) from None
    if dt.kind != "f":
        limits = np.iinfo(dt)
        for row, value in enumerate(out):
            if not limits.min <= value <= limits.max:
                raise ValueError(
                    f"column {column!r}, row {row}: {texts[row]!r} is out of range "
                    f"for dtype {dt}"
                )
    return np.array(out, dtype=dt)
