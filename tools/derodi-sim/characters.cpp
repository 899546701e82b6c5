// SPDX-License-Identifier: MIT
#include "characters.hpp"

#include <algorithm>
#include <iterator>

#include "zelko/ipc/white_space.hpp"

namespace derodi_sim {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

constexpr Range k_formatting[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// Characters that show as nothing but are neither white space nor format
// characters: fillers and blanks, and the combining grapheme joiner.
constexpr char32_t k_blank[] = {0x034F, 0x115F, 0x1160, 0x2800, 0x3164, 0xFFA0};

}  // namespace

bool is_control(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool is_formatting(char32_t c) {
  return std::any_of(std::begin(k_formatting), std::end(k_formatting),
                     [c](const Range& r) { return c >= r.first && c <= r.last; });
}

bool is_invisible(char32_t c) {
  return zelko_ipc::is_white_space(c) || is_formatting(c) ||
         std::find(std::begin(k_blank), std::end(k_blank), c) != std::end(k_blank);
}

}  // namespace derodi_sim
