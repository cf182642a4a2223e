#include "standalone_host/core/scripting.h"

#include "host/maxscript.h"

namespace KorvoHost {
namespace {
std::vector<std::wstring>& Scripts() {
    static std::vector<std::wstring> scripts;
    return scripts;
}
}  // namespace

const std::vector<std::wstring>& ExecutedScripts() { return Scripts(); }
void ClearExecutedScripts() { Scripts().clear(); }

}  // namespace KorvoHost

BOOL ExecuteMAXScriptScript(const MCHAR* script, BOOL, FPValue*) {
    KorvoHost::Scripts().push_back(script ? script : L"");
    return TRUE;
}
