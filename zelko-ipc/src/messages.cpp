// SPDX-License-Identifier: MIT
// The client's side of the messages: requests encoded, answers decoded.

#include "zelko/ipc/messages.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/record.hpp"

namespace zelko_ipc {

namespace {

std::string word_and_line(std::string_view word, std::string_view line) {
  std::string out;
  out.reserve(word.size() + 1 + line.size());
  out.append(word);
  out.push_back('\n');
  out.append(line);
  return out;
}

std::string decimal(std::uint64_t value) {
  std::string out;
  append_decimal(out, value);
  return out;
}

using Decoded = std::expected<ControlResponse, std::string_view>;

char* find(char* from, char* end, char byte) {
  return static_cast<char*>(std::memchr(from, byte, static_cast<std::size_t>(end - from)));
}

// Turns the TABs of the record from `begin` to `end` into field breaks where
// they stand, noting where they are. False when the record does not hold
// exactly `breaks.size() + 1` fields.
bool mark_fields(char* begin, char* end, std::span<char*> breaks) {
  std::size_t found = 0;
  for (char* at = begin; (at = find(at, end, '\t'));) {
    if (found == breaks.size()) {
      return false;
    }
    breaks[found++] = at;
    *at++ = k_field_break;
  }
  return found == breaks.size();
}

// Decodes the body record of `payload` (from `start` on, `size` bytes) in
// place and keeps nothing after it. A lone record has nothing after it to
// keep in place, so it closes up over the bytes its escapes took.
template <std::size_t N>
std::optional<std::size_t> decode_body(std::string& payload, std::size_t start, std::size_t size) {
  char* const begin = payload.data() + start;
  std::array<char*, N - 1> breaks;
  if (!mark_fields(begin, begin + size, breaks)) {
    return std::nullopt;
  }
  payload.resize(static_cast<std::size_t>(unescape_into(begin, {begin, size}) - payload.data()));
  return start;
}

// Where undoing a line's escapes left it: the end of the record, and the
// next backslash of the answer after the line.
struct Undone {
  char* record_end;
  char* next_backslash;
};

// Undoes the escapes of a list line in place, from its first backslash
// `at` on to `line_end`, and finds the next backslash of the answer (as far
// as `end`) on the way, so that each backslash is looked for once. A field
// break is no escape letter, so a backslash before one stays a backslash,
// as at the end of a field.
Undone undo_escapes(char* at, char* line_end, char* end) {
  char* out = at;
  char* read = at;
  while (true) {
    // `read` is at a backslash of the line.
    const char decoded = read + 1 < line_end ? unescaped_byte(read[1]) : 0;
    if (decoded != 0) {
      *out++ = decoded;
      read += 2;
    } else {
      *out++ = '\\';
      read += 1;
    }
    char* const next = find(read, end, '\\');
    char* const stop = next != nullptr && next < line_end ? next : line_end;
    std::memmove(out, read, static_cast<std::size_t>(stop - read));
    out += stop - read;
    read = stop;
    if (read == line_end) {
      return {out, next};
    }
  }
}

// Keeps a record as it was decoded; returns its end.
char* as_decoded(char* /*begin*/, char* end) {
  return end;
}

// Keeps of a device's status word only whether it is "active": a revoked
// phone's word is cut off, whatever the daemon called it. Returns the end.
char* status_word_kept(char* begin, char* end) {
  const std::string_view record(begin, static_cast<std::size_t>(end - begin));
  const std::size_t word = record.rfind(k_field_break) + 1;
  return record.substr(word) == "active" ? end : begin + word;
}

// Decodes the list lines of `payload` from `start` on in place: every line
// that is not empty is a record of N fields, which `finish` may shorten.
// Nothing moves from one line to another: a record's TABs become field
// breaks where they stand, the escapes are undone within the line, the
// record break follows at once, and whatever is left of the line (a blank
// line's LF included) becomes filler. Returns the list.
template <std::size_t N>
std::expected<RecordList<N>, std::string_view> decode_list(std::string payload, std::size_t start,
                                                           char* (*finish)(char*, char*)) {
  char* const base = payload.data();
  char* const end = base + payload.size();
  char* first = end;
  char* last = end;
  // The next TAB and the next backslash in the whole answer, each looked
  // for once: lines before the backslash need no unescaping.
  char* tab = find(base + start, end, '\t');
  char* backslash = find(base + start, end, '\\');
  for (char* line = base + start; line < end;) {
    char* const line_end = [&] {
      char* const lf = find(line, end, '\n');
      return lf == nullptr ? end : lf;
    }();
    if (line_end == line) {
      *line++ = k_filler;
      continue;
    }
    std::size_t breaks = 0;
    for (; tab != nullptr && tab < line_end; tab = find(tab + 1, end, '\t')) {
      if (++breaks == N) {
        return std::unexpected(k_wrong_shape);
      }
      *tab = k_field_break;
    }
    if (breaks + 1 != N) {
      return std::unexpected(k_wrong_shape);
    }
    char* record_end = line_end;
    if (backslash != nullptr && backslash < line_end) {
      const Undone undone = undo_escapes(backslash, line_end, end);
      record_end = undone.record_end;
      backslash = undone.next_backslash;
    }
    record_end = finish(line, record_end);
    first = std::min(first, line);
    last = record_end;
    if (line_end == end) {
      break;
    }
    *record_end = k_record_break;
    if (record_end < line_end) {
      // Mostly a single byte, the line's LF: one escape undone.
      *line_end = k_filler;
      if (line_end - record_end > 1) {
        std::memset(record_end + 1, k_filler, static_cast<std::size_t>(line_end - record_end - 1));
      }
    }
    line = line_end + 1;
  }
  const auto size = static_cast<std::size_t>(last - base);
  const std::size_t records = std::min(static_cast<std::size_t>(first - base), size);
  payload.resize(size);
  return RecordList<N>(std::move(payload), records);
}

// Unescapes the one field of `payload` from `start` on (`size` bytes) to the
// front of the payload, which then holds it alone.
std::string take_field(std::string payload, std::size_t start, std::size_t size) {
  char* const base = payload.data();
  payload.resize(static_cast<std::size_t>(unescape_into(base, {base + start, size}) - base));
  return payload;
}

// Where the head line ends and the body line starts and ends.
struct Lines {
  std::string_view head;
  bool has_body = false;
  std::size_t body_start = 0;
  std::size_t body_size = 0;
};

Lines split_answer(std::string_view payload) {
  const std::size_t end_of_head = payload.find('\n');
  if (end_of_head == std::string_view::npos) {
    return {payload};
  }
  const std::size_t body_start = end_of_head + 1;
  const std::size_t end_of_body = payload.find('\n', body_start);
  const std::size_t body_end = end_of_body == std::string_view::npos ? payload.size() : end_of_body;
  return {payload.substr(0, end_of_head), true, body_start, body_end - body_start};
}

Decoded decode_status(std::string payload, const Lines& lines) {
  const auto start = decode_body<5>(payload, lines.body_start, lines.body_size);
  if (!start) {
    return std::unexpected(k_wrong_shape);
  }
  return ControlResponse{ControlResponse::Status(RecordFields<5>(std::move(payload), *start))};
}

Decoded decode_glance(std::string payload, const Lines& lines) {
  const auto start = decode_body<3>(payload, lines.body_start, lines.body_size);
  if (!start) {
    return std::unexpected(k_wrong_shape);
  }
  const RecordFields<3> fields(std::move(payload), *start);
  const auto count = parse_unsigned_decimal(fields[2], std::numeric_limits<std::uint32_t>::max());
  if (!count) {
    return std::unexpected(k_glance_count);
  }
  return ControlResponse{ControlResponse::Glance{fields[0] == "paired", fields[1] == "connected",
                                                 static_cast<std::uint32_t>(*count)}};
}

Decoded decode_public_key(std::string payload, const Lines& lines) {
  return ControlResponse{ControlResponse::PublicKey{
      take_field(std::move(payload), lines.body_start, lines.body_size)}};
}

Decoded decode_authorized(std::string payload, const Lines& lines) {
  const auto start = decode_body<2>(payload, lines.body_start, lines.body_size);
  if (!start) {
    return std::unexpected(k_wrong_shape);
  }
  const std::string_view decoded = std::string_view(payload).substr(*start);
  const std::size_t scope_start = decoded.find(k_field_break) + 1;
  const auto expires = parse_unsigned_decimal(decoded.substr(0, scope_start - 1),
                                              std::numeric_limits<std::uint64_t>::max());
  if (!expires) {
    return std::unexpected(k_bad_expiry);
  }
  // The scope is already unescaped; it only moves to the front.
  payload.erase(0, *start + scope_start);
  return ControlResponse{ControlResponse::Authorized{*expires, std::move(payload)}};
}

Decoded decode_generated(std::string payload, const Lines& lines) {
  const auto start = decode_body<3>(payload, lines.body_start, lines.body_size);
  if (!start) {
    return std::unexpected(k_wrong_shape);
  }
  return ControlResponse{ControlResponse::Generated(RecordFields<3>(std::move(payload), *start))};
}

// Heads whose answer is one body line, with the message for a missing body.
struct BodyForm {
  std::string_view head;
  std::string_view no_body;
  Decoded (*decode)(std::string payload, const Lines& lines);
};

constexpr BodyForm k_body_forms[] = {
    {"status", k_status_no_body, decode_status},
    {"glance", k_glance_no_body, decode_glance},
    {"pubkey", k_pubkey_no_body, decode_public_key},
    {"authorized", k_authorized_no_body, decode_authorized},
    {"generated", k_generated_no_body, decode_generated},
};

template <class Answer, std::size_t N>
Decoded decode_list_answer(std::string payload, std::size_t start, char* (*finish)(char*, char*)) {
  auto list = decode_list<N>(std::move(payload), start, finish);
  if (!list) {
    return std::unexpected(list.error());
  }
  return ControlResponse{Answer(std::move(*list))};
}

}  // namespace

std::string ControlRequest::encode() const {
  return std::visit(
      Overloaded{
          [](const Status&) { return std::string("status"); },
          [](const Glance&) { return std::string("glance"); },
          [](const Keys&) { return std::string("keys"); },
          [](const Devices&) { return std::string("devices"); },
          [](const GetPub& r) { return word_and_line("getpub", escape(r.name)); },
          [](const Authorize& r) { return word_and_line("authorize", decimal(r.minutes)); },
          [](const Generate& r) {
            const std::string bits = decimal(r.bits);
            const std::string_view record[] = {r.key_type, bits, r.name};
            return word_and_line("generate", join(record));
          },
      },
      value);
}

std::expected<ControlResponse, std::string_view> ControlResponse::decode(std::string_view payload) {
  return decode_owned(std::string(payload));
}

std::expected<ControlResponse, std::string_view> ControlResponse::decode_owned(
    std::string payload) {
  const Lines lines = split_answer(payload);
  for (const BodyForm& form : k_body_forms) {
    if (lines.head == form.head) {
      if (!lines.has_body) {
        return std::unexpected(form.no_body);
      }
      return form.decode(std::move(payload), lines);
    }
  }
  const std::size_t rest = lines.has_body ? lines.body_start : payload.size();
  if (lines.head == "keys") {
    return decode_list_answer<Keys, 5>(std::move(payload), rest, as_decoded);
  }
  if (lines.head == "devices") {
    return decode_list_answer<Devices, 3>(std::move(payload), rest, status_word_kept);
  }
  if (lines.head == "error") {
    return ControlResponse{Error{take_field(std::move(payload), rest, lines.body_size)}};
  }
  return std::unexpected(k_unknown_response);
}

}  // namespace zelko_ipc
