#include "filter/pattern/abbreviations.h"

namespace sentrel::pattern::detail {

std::string_view Abbreviation(unsigned char letter) {
  switch (letter) {
    case 'a': return "([a-zA-Z0-9])";  // one ASCII letter or digit
    case 'b': return "([ \t])";        // one blank: space or TAB
    case 'c': return "([a-zA-Z])";     // one ASCII letter
    case 'd': return "([0-9])";        // one decimal digit
    case 'h': return "([0-9a-fA-F])";  // one hexadecimal digit
    // One line break: a CR, or an optional CR followed by an LF. Written with
    // the raw bytes, since `\r` and `\n` are no escapes outside classes.
    case 'n': return "(\r|(\r?\n))";
    case 'q': return "(\"[^\"]*\")|('[^']*')";  // a double- or single-quoted string
    case 'w': return "([a-zA-Z]+)";    // one or more ASCII letters
    case 'z': return "([0-9]+)";       // one or more decimal digits
    default: return {};
  }
}

}  // namespace sentrel::pattern::detail
