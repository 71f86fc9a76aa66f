#include "ValueSpec.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "platform/portable.h"
#include "platform/unicode.h"

namespace inihost {

namespace {

using iniplugin::platform::UniqueBstr;
using iniplugin::platform::UniqueVariant;

std::optional<long long> ParseSigned(const std::string& text, long long min, long long max) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return std::nullopt;
  return value;
}

std::optional<unsigned long long> ParseUnsigned(const std::string& text, unsigned long long max) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > max) return std::nullopt;
  return value;
}

// Ordinary decimal or exponent notation, of any length: an optional sign, digits with an
// optional point, an optional exponent. No blanks, hexadecimal, infinity or NaN.
bool IsDecimalNumber(const std::string& text) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

// The nearest value of the type. A text too small for it (ERANGE with a tiny result) is
// still a value the type holds, its smallest subnormal or zero; one too large is not.
template <class Real, class Convert>
std::optional<Real> ParseReal(const std::string& text, Convert convert) {
  if (!IsDecimalNumber(text)) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const Real value = convert(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<double> ParseDouble(const std::string& text) {
  return ParseReal<double>(text, [](const char* s, char** e) { return std::strtod(s, e); });
}

std::optional<float> ParseFloat(const std::string& text) {
  return ParseReal<float>(text, [](const char* s, char** e) { return std::strtof(s, e); });
}

// A plain decimal number: optional sign, digits, optional fraction. Returns its digits
// without the point, and how many of them follow the point.
struct DecimalText {
  bool negative = false;
  std::string digits;
  int scale = 0;
};

std::optional<DecimalText> ParseDecimalText(const std::string& text) {
  DecimalText out;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) out.negative = text[i++] == '-';
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      out.digits.push_back(c);
      if (point) ++out.scale;
    } else {
      return std::nullopt;
    }
  }
  if (out.digits.empty()) return std::nullopt;
  return out;
}

std::optional<LONGLONG> ParseCurrency(const std::string& text) {
  std::optional<DecimalText> number = ParseDecimalText(text);
  if (!number || number->scale > 4) return std::nullopt;
  std::string digits = number->digits + std::string(4 - number->scale, '0');
  // |value| <= 2^63 - 1 ten-thousandths
  unsigned long long magnitude = 0;
  for (char c : digits) {
    const unsigned d = static_cast<unsigned>(c - '0');
    if (magnitude > (std::numeric_limits<unsigned long long>::max() - d) / 10) return std::nullopt;
    magnitude = magnitude * 10 + d;
  }
  const unsigned long long limit =
      static_cast<unsigned long long>(std::numeric_limits<long long>::max()) +
      (number->negative ? 1 : 0);
  if (magnitude > limit) return std::nullopt;
  return number->negative ? static_cast<LONGLONG>(0 - magnitude) : static_cast<LONGLONG>(magnitude);
}

bool ParseDecimal(const std::string& text, DECIMAL& out) {
  std::optional<DecimalText> number = ParseDecimalText(text);
  if (!number || number->scale > 28) return false;
  // The 96-bit mantissa as three 32-bit limbs, least significant first.
  std::uint32_t limbs[3] = {0, 0, 0};
  for (char c : number->digits) {
    std::uint64_t carry = static_cast<std::uint64_t>(c - '0');
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t product = std::uint64_t{limb} * 10 + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) return false;
  }
  out = DECIMAL{};
  out.scale = static_cast<BYTE>(number->scale);
  out.sign = number->negative ? DECIMAL_NEG : 0;
  out.Lo32 = limbs[0];
  out.Mid32 = limbs[1];
  out.Hi32 = limbs[2];
  return true;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool ReadFixed(const std::string& text, std::size_t pos, std::size_t width, int& out) {
  if (pos + width > text.size()) return false;
  out = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

std::optional<double> ParseDate(const std::string& text) {
  // YYYY-MM-DD, YYYY-MM-DDTHH:MM:SS[.fff], or a day number.
  int year, month, day, hour = 0, minute = 0, second = 0, millisecond = 0;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-' && ReadFixed(text, 0, 4, year) &&
      ReadFixed(text, 5, 2, month) && ReadFixed(text, 8, 2, day)) {
    if (text.size() > 10) {
      if (text.size() < 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
          !ReadFixed(text, 11, 2, hour) || !ReadFixed(text, 14, 2, minute) ||
          !ReadFixed(text, 17, 2, second)) {
        return std::nullopt;
      }
      if (text.size() > 19) {
        if (text.size() != 23 || text[19] != '.' || !ReadFixed(text, 20, 3, millisecond)) {
          return std::nullopt;
        }
      }
    }
    return OleDate(year, month, day, hour, minute, second, millisecond);
  }
  std::optional<double> number = ParseDouble(text);
  if (!number || !std::isfinite(*number)) return std::nullopt;
  return number;
}

}  // namespace

std::optional<double> OleDate(int year, int month, int day, int hour, int minute, int second,
                              int millisecond) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
      millisecond > 999) {
    return std::nullopt;
  }
  const long long days = DaysFromCivil(year, static_cast<unsigned>(month),
                                       static_cast<unsigned>(day)) -
                         DaysFromCivil(1899, 12, 30);
  const double fraction = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) /
                          86400000.0;
  // Before the epoch the fraction still counts forward from midnight, and the sign
  // covers both parts: 29 Dec 1899 06:00 is -1.25.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

std::optional<std::string> ParseValue(const std::string& spec, UniqueVariant& value) {
  static const char* const kTypes[] = {"str", "empty", "null", "bool", "i1", "i2", "i4",
                                       "i8", "ui1", "ui2", "ui4", "ui8", "int", "uint",
                                       "r4", "r8", "cy", "dec", "date", "error"};
  std::string type = "str";
  std::string text = spec;
  const std::size_t colon = spec.find(':');
  if (spec == "empty" || spec == "null") {
    type = spec;
    text.clear();
  } else if (colon != std::string::npos) {
    for (const char* known : kTypes) {
      if (spec.compare(0, colon, known) == 0) {
        type = known;
        text = spec.substr(colon + 1);
        break;
      }
    }
  }
  const std::string bad = "not a valid " + type + " value: '" + text + "'";
  VARIANT* v = value.Receive();

  if (type == "str") {
    std::optional<std::u16string> wide = iniplugin::platform::Utf8ToUtf16(text);
    if (!wide) return "the text is not UTF-8";
    v->vt = VT_BSTR;
    v->bstrVal = UniqueBstr::FromText(*wide).Release();
    return std::nullopt;
  }
  if (type == "empty" || type == "null") {
    if (!text.empty()) return type + " takes no text";
    v->vt = type == "empty" ? VT_EMPTY : VT_NULL;
    return std::nullopt;
  }
  if (type == "bool") {
    if (text != "true" && text != "false") return bad;
    v->vt = VT_BOOL;
    v->boolVal = text == "true" ? VARIANT_TRUE : VARIANT_FALSE;
    return std::nullopt;
  }
  struct IntegerType {
    const char* name;
    VARTYPE vt;
    long long min;
    unsigned long long max;
  };
  static const IntegerType kIntegers[] = {
      {"i1", VT_I1, -128, 127},
      {"i2", VT_I2, -32768, 32767},
      {"i4", VT_I4, std::numeric_limits<std::int32_t>::min(), 2147483647},
      {"int", VT_INT, std::numeric_limits<std::int32_t>::min(), 2147483647},
      {"i8", VT_I8, std::numeric_limits<long long>::min(), 9223372036854775807ull},
      {"ui1", VT_UI1, 0, 255},
      {"ui2", VT_UI2, 0, 65535},
      {"ui4", VT_UI4, 0, 4294967295ull},
      {"uint", VT_UINT, 0, 4294967295ull},
      {"ui8", VT_UI8, 0, std::numeric_limits<unsigned long long>::max()},
  };
  for (const IntegerType& integer : kIntegers) {
    if (type != integer.name) continue;
    if (integer.min < 0) {
      std::optional<long long> n =
          ParseSigned(text, integer.min, static_cast<long long>(integer.max));
      if (!n) return bad;
      v->vt = integer.vt;
      v->llVal = 0;
      switch (integer.vt) {
        case VT_I1: v->cVal = static_cast<CHAR>(*n); break;
        case VT_I2: v->iVal = static_cast<SHORT>(*n); break;
        case VT_I4: v->lVal = static_cast<LONG>(*n); break;
        case VT_INT: v->intVal = static_cast<INT>(*n); break;
        default: v->llVal = *n; break;
      }
    } else {
      std::optional<unsigned long long> n = ParseUnsigned(text, integer.max);
      if (!n) return bad;
      v->vt = integer.vt;
      v->llVal = 0;
      switch (integer.vt) {
        case VT_UI1: v->bVal = static_cast<BYTE>(*n); break;
        case VT_UI2: v->uiVal = static_cast<USHORT>(*n); break;
        case VT_UI4: v->ulVal = static_cast<ULONG>(*n); break;
        case VT_UINT: v->uintVal = static_cast<UINT>(*n); break;
        default: v->ullVal = *n; break;
      }
    }
    return std::nullopt;
  }
  if (type == "r4") {
    // Parsed as a float, not a double narrowed: "3.4028235e+38", the shortest text of the
    // largest float, is a little above it as a double.
    std::optional<float> n = ParseFloat(text);
    if (!n) return bad;
    v->vt = VT_R4;
    v->fltVal = *n;
    return std::nullopt;
  }
  if (type == "r8") {
    std::optional<double> n = ParseDouble(text);
    if (!n) return bad;
    v->vt = VT_R8;
    v->dblVal = *n;
    return std::nullopt;
  }
  if (type == "cy") {
    std::optional<LONGLONG> n = ParseCurrency(text);
    if (!n) return bad;
    v->vt = VT_CY;
    v->cyVal.int64 = *n;
    return std::nullopt;
  }
  if (type == "dec") {
    DECIMAL decimal;
    if (!ParseDecimal(text, decimal)) return bad;
    v->decVal = decimal;
    v->vt = VT_DECIMAL;
    return std::nullopt;
  }
  if (type == "date") {
    std::optional<double> date = ParseDate(text);
    if (!date) return bad;
    v->vt = VT_DATE;
    v->date = *date;
    return std::nullopt;
  }
  // error
  if (text.empty()) return bad;
  errno = 0;
  char* end = nullptr;
  const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
  const long long code = hex ? static_cast<long long>(std::strtoull(text.c_str() + 2, &end, 16))
                             : std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || code < std::numeric_limits<std::int32_t>::min() ||
      code > 0xFFFFFFFFll) {
    return bad;
  }
  v->vt = VT_ERROR;
  v->scode = static_cast<SCODE>(static_cast<std::uint32_t>(code));
  return std::nullopt;
}

}  // namespace inihost
