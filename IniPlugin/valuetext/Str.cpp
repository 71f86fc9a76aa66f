#include "valuetext/Str.h"

#include <charconv>
#include <stdexcept>
#include <utility>

namespace iniplugin::valuetext {

namespace {

struct Spec {
  bool leftAlign = false;
  bool zeroPad = false;
  std::size_t width = 0;
  char16_t conversion = 0;
};

// Reads the flags, width and conversion after a '%'; `pos` ends past the conversion.
Spec ReadSpec(std::u16string_view pattern, std::size_t& pos) {
  Spec spec;
  for (; pos < pattern.size(); ++pos) {
    if (pattern[pos] == u'-') {
      spec.leftAlign = true;
    } else if (pattern[pos] == u'0') {
      spec.zeroPad = true;
    } else {
      break;
    }
  }
  for (; pos < pattern.size() && pattern[pos] >= u'0' && pattern[pos] <= u'9'; ++pos) {
    spec.width = spec.width * 10 + static_cast<std::size_t>(pattern[pos] - u'0');
  }
  if (pos == pattern.size()) {
    throw std::invalid_argument("Str::Format: pattern ends inside a conversion");
  }
  spec.conversion = pattern[pos++];
  return spec;
}

void AppendPadded(std::u16string& out, std::u16string_view sign, std::u16string_view body,
                  const Spec& spec) {
  const std::size_t length = sign.size() + body.size();
  const std::size_t padding = spec.width > length ? spec.width - length : 0;
  if (spec.leftAlign) {
    out += sign;
    out += body;
    out.append(padding, u' ');
  } else if (spec.zeroPad) {
    // Zeros go between the sign and the digits: "%04d" of -1 is "-001".
    out += sign;
    out.append(padding, u'0');
    out += body;
  } else {
    out.append(padding, u' ');
    out += sign;
    out += body;
  }
}

}  // namespace

void Str::FormatList(std::u16string_view pattern, std::span<const Arg> args) {
  std::u16string result;
  std::size_t next = 0;
  for (std::size_t pos = 0; pos < pattern.size();) {
    const std::size_t percent = pattern.find(u'%', pos);
    result += pattern.substr(pos, percent - pos);
    if (percent == std::u16string_view::npos) break;
    pos = percent + 1;
    const Spec spec = ReadSpec(pattern, pos);
    if (spec.conversion == u'%') {
      result += u'%';
      continue;
    }
    if (next == args.size()) throw std::invalid_argument("Str::Format: too few arguments");
    const Arg& arg = args[next++];
    if (spec.conversion == u'd' && std::holds_alternative<int>(arg)) {
      const int value = std::get<int>(arg);
      // The magnitude through unsigned arithmetic, so that INT_MIN has one.
      const unsigned magnitude =
          value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
      char digits[16];
      const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
      const std::u16string body(digits, end);
      AppendPadded(result, value < 0 ? u"-" : u"", body, spec);
    } else if (spec.conversion == u's' && std::holds_alternative<std::u16string_view>(arg)) {
      // '0' pads numbers only.
      Spec textSpec = spec;
      textSpec.zeroPad = false;
      AppendPadded(result, u"", std::get<std::u16string_view>(arg), textSpec);
    } else {
      throw std::invalid_argument("Str::Format: conversion does not fit its argument");
    }
  }
  if (next != args.size()) throw std::invalid_argument("Str::Format: too many arguments");
  m_text = std::move(result);
}

}  // namespace iniplugin::valuetext
