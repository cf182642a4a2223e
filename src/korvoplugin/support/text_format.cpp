#include "support/text_format.h"

#include <string>

namespace Korvo {

MSTR FormatText(std::wstring_view format, std::span<const FormatArg> args) {
    MSTR out;
    out.reserve(format.size() + 16 * args.size());
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const wchar_t c = format[i];
        if (c != L'%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        const wchar_t conversion = format[++i];
        if (conversion == L'%') {
            out += L'%';
            continue;
        }
        if (conversion != L's' && conversion != L'd' && conversion != L'u') {
            out += L'%';
            out += conversion;
            continue;
        }
        if (next == args.size()) {
            out += L"<missing %";
            out += conversion;
            out += L'>';
            continue;
        }
        const FormatArg& arg = args[next++];
        const bool isText = arg.kind() == FormatArg::Kind::Text;
        if (isText != (conversion == L's')) {
            out += L"<bad %";
            out += conversion;
            out += L'>';
        } else if (isText) {
            out += arg.text();
        } else if (conversion == L'd') {
            // Either signedness prints as the conversion says, bit for bit, as with printf.
            out += std::to_wstring(arg.AsSigned());
        } else {
            out += std::to_wstring(arg.AsUnsigned());
        }
    }
    return out;
}

}  // namespace Korvo
