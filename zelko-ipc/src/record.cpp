#include "zelko/ipc/record.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelko_ipc {

namespace {

// The byte an escape letter stands for, or 0 when the pair is not an escape.
char unescaped_byte(char letter) {
  switch (letter) {
    case 'n':
      return '\n';
    case 't':
      return '\t';
    case '\\':
      return '\\';
    default:
      return 0;
  }
}

char escape_letter(char byte) {
  switch (byte) {
    case '\n':
      return 'n';
    case '\t':
      return 't';
    default:
      return '\\';
  }
}

bool needs_escape(char byte) {
  return byte == '\\' || byte == '\t' || byte == '\n';
}

}  // namespace

void append_escaped(std::string& out, std::string_view field) {
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (!needs_escape(field[i])) {
      continue;
    }
    out.append(field.substr(run_start, i - run_start));
    out.push_back('\\');
    out.push_back(escape_letter(field[i]));
    run_start = i + 1;
  }
  out.append(field.substr(run_start));
}

std::string escape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  append_escaped(out, field);
  return out;
}

std::size_t unescape_in_place(char* data, std::size_t size) {
  const char* read = data;
  const char* const end = data + size;
  char* write = data;
  while (read < end) {
    const void* found = std::memchr(read, '\\', static_cast<std::size_t>(end - read));
    const char* stop = found == nullptr ? end : static_cast<const char*>(found);
    if (write != read) {
      std::memmove(write, read, static_cast<std::size_t>(stop - read));
    }
    write += stop - read;
    read = stop;
    if (read == end) {
      break;
    }
    if (read + 1 == end) {
      *write++ = '\\';
      break;
    }
    const char decoded = unescaped_byte(read[1]);
    if (decoded != 0) {
      *write++ = decoded;
    } else {
      *write++ = '\\';
      *write++ = read[1];
    }
    read += 2;
  }
  return static_cast<std::size_t>(write - data);
}

std::string unescape(std::string_view escaped) {
  std::string out(escaped);
  out.resize(unescape_in_place(out.data(), out.size()));
  return out;
}

std::string join(std::span<const std::string_view> fields) {
  std::size_t size = fields.size();
  for (const std::string_view field : fields) {
    size += field.size();
  }
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      out.push_back('\t');
    }
    append_escaped(out, fields[i]);
  }
  return out;
}

namespace {

// Cuts a record into pieces at the TABs the scan reports, in order.
class Splitter {
 public:
  Splitter(std::string_view record, std::span<std::string_view> pieces)
      : m_record(record), m_pieces(pieces) {}

  /// Takes the TAB at `position`; false when there is one TAB too many.
  bool tab_at(std::size_t position) {
    if (m_count + 1 >= m_pieces.size()) {
      return false;
    }
    m_pieces[m_count++] = m_record.substr(m_start, position - m_start);
    m_start = position + 1;
    return true;
  }

  /// Takes the TABs whose positions, relative to `base`, are the set bits of `tabs`.
  bool tabs_in(std::size_t base, unsigned tabs) {
    for (; tabs != 0; tabs &= tabs - 1) {
      if (!tab_at(base + static_cast<std::size_t>(__builtin_ctz(tabs)))) {
        return false;
      }
    }
    return true;
  }

  bool finish() {
    if (m_count + 1 != m_pieces.size()) {
      return false;
    }
    m_pieces[m_count] = m_record.substr(m_start);
    return true;
  }

 private:
  std::string_view m_record;
  std::span<std::string_view> m_pieces;
  std::size_t m_count = 0;
  std::size_t m_start = 0;
};

#if defined(__SSE2__)

struct BlockScan {
  unsigned tabs;
  bool backslash;
};

BlockScan scan_block(const char* at) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  return {static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')))),
          _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\\'))) != 0};
}

#endif

}  // namespace

bool split_record(std::string_view record, std::span<std::string_view> pieces, bool* escaped) {
  if (pieces.empty()) {
    return false;
  }
  Splitter splitter(record, pieces);
  bool backslash = false;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time; the last few padded to a whole block.
  for (; i + 16 <= record.size(); i += 16) {
    const BlockScan scan = scan_block(record.data() + i);
    backslash |= scan.backslash;
    if (!splitter.tabs_in(i, scan.tabs)) {
      return false;
    }
  }
  if (i < record.size()) {
    char tail[16];
    std::memset(tail, 'a', sizeof tail);
    std::memcpy(tail, record.data() + i, record.size() - i);
    const BlockScan scan = scan_block(tail);
    backslash |= scan.backslash;
    if (!splitter.tabs_in(i, scan.tabs)) {
      return false;
    }
  }
#else
  for (; i < record.size(); ++i) {
    backslash |= record[i] == '\\';
    if (record[i] == '\t' && !splitter.tab_at(i)) {
      return false;
    }
  }
#endif
  if (!splitter.finish()) {
    return false;
  }
  if (escaped != nullptr) {
    *escaped = backslash;
  }
  return true;
}

}  // namespace zelko_ipc
