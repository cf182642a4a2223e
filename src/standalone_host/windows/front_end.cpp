#include "standalone_host/windows/front_end.h"

namespace KorvoHost {
namespace {

class SilentFrontEnd final : public FrontEnd {
  public:
    Answer AnswerModal(HWND) override { return Answer::NoAnswer; }
};

SilentFrontEnd gSilent;
FrontEnd* gFrontEnd = &gSilent;

}  // namespace

FrontEnd& CurrentFrontEnd() { return *gFrontEnd; }
void SetFrontEnd(FrontEnd* frontEnd) { gFrontEnd = frontEnd ? frontEnd : &gSilent; }

}  // namespace KorvoHost
