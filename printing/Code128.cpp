#include "printing/Code128.h"

#include <array>

namespace kestrola::Code128 {

namespace {
constexpr std::array<std::string_view, 107> kPatterns = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "2331112"};

// The value of a character in code set A or B; -1 when the set lacks it.
int CharValue(char set, unsigned char c) {
  if (set == 'A') {
    if (c >= 32 && c <= 95) return c - 32;
    if (c < 32) return c + 64;
    return -1;
  }
  if (c >= 32 && c <= 127) return c - 32;
  return -1;
}
}  // namespace

std::string_view Pattern(int symbol) {
  return symbol >= 0 && symbol < static_cast<int>(kPatterns.size()) ? kPatterns[symbol] : "";
}

namespace {
// Turns data characters and escapes into symbol values, keeping the code set in use and
// whether the next character is shifted into the other of sets A and B.
class Encoder {
 public:
  explicit Encoder(char set) : set_(set) {
    symbols_.push_back(set == 'A' ? 103 : set == 'B' ? 104 : 105);
  }

  // The escape "{m": a code set change (A, B, C), a shift (S), a function code (1 to 4) or
  // a literal "{". False when it cannot stand here.
  bool Escape(char m) {
    if (m == 'A' || m == 'B' || m == 'C') {
      if (shift_) return false;
      if (m != set_) symbols_.push_back(m == 'A' ? 101 : m == 'B' ? 100 : 99);
      set_ = m;
      return true;
    }
    if (m == 'S') {
      if (set_ == 'C' || shift_) return false;
      symbols_.push_back(98);
      shift_ = true;
      return true;
    }
    const char active = Active();
    if (m == '1') {
      symbols_.push_back(102);
    } else if (m == '2' || m == '3') {
      if (active == 'C') return false;
      symbols_.push_back(m == '2' ? 97 : 96);
    } else if (m == '4') {
      if (active == 'C') return false;
      symbols_.push_back(active == 'A' ? 101 : 100);
    } else if (m == '{') {
      if (active != 'B') return false;
      symbols_.push_back('{' - 32);
    } else {
      return false;
    }
    shift_ = false;
    return true;
  }

  // The data at `i`: two digits in set C, one character in sets A and B. Moves `i` past it;
  // false when the set cannot encode it.
  bool Data(std::string_view data, size_t& i) {
    if (Active() == 'C') {
      if (i + 1 >= data.size() || data[i] < '0' || data[i] > '9' || data[i + 1] < '0' ||
          data[i + 1] > '9') {
        return false;
      }
      symbols_.push_back((data[i] - '0') * 10 + (data[i + 1] - '0'));
      i += 2;
    } else {
      int v = CharValue(Active(), static_cast<unsigned char>(data[i]));
      if (v < 0) return false;
      symbols_.push_back(v);
      ++i;
    }
    shift_ = false;
    return true;
  }

  // The symbols with the check symbol and the stop; none when a shift is left hanging.
  std::optional<std::vector<int>> Finish() {
    if (shift_) return std::nullopt;
    long sum = symbols_[0];
    for (size_t k = 1; k < symbols_.size(); ++k) sum += static_cast<long>(k) * symbols_[k];
    symbols_.push_back(static_cast<int>(sum % 103));
    symbols_.push_back(106);
    return std::move(symbols_);
  }

 private:
  // The set the next character is encoded in.
  char Active() const { return shift_ ? (set_ == 'A' ? 'B' : 'A') : set_; }

  std::vector<int> symbols_;
  char set_;
  bool shift_ = false;
};
}  // namespace

std::optional<std::vector<int>> Encode(std::string_view data) {
  if (data.size() < 2 || data[0] != '{' || (data[1] != 'A' && data[1] != 'B' && data[1] != 'C')) {
    return std::nullopt;
  }
  Encoder encoder(data[1]);
  size_t i = 2;
  while (i < data.size()) {
    bool encoded;
    if (data[i] == '{') {
      if (i + 1 >= data.size()) return std::nullopt;
      encoded = encoder.Escape(data[i + 1]);
      i += 2;
    } else {
      encoded = encoder.Data(data, i);
    }
    if (!encoded) return std::nullopt;
  }
  return encoder.Finish();
}

std::string ReadableText(std::string_view data) {
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '{' && i + 1 < data.size()) {
      if (data[i + 1] == '{') out.push_back('{');
      ++i;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 32 && c < 127) out.push_back(data[i]);
  }
  return out;
}

}  // namespace kestrola::Code128
