// The host's script engine: the script runner with the host's system globals (renderers, the
// plug-ins' classes, the scene's nodes) and the record of every script text run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "standalone_host/script/script_runner.h"

namespace KorvoHost {

class HostInterface;

// Every script text the host was asked to run, in order.
const std::vector<std::wstring>& ExecutedScripts();
void ClearExecutedScripts();

// The script engine of one host session: globals live as long as it does.
class HostScripting {
  public:
    explicit HostScripting(HostInterface& host);
    ~HostScripting();

    ScriptRunner& Runner() { return runner_; }
    // Runs a script; on failure keeps the error ("line 2, column 7: …") and, unless quiet,
    // writes it to standard error. Each statement's value goes to onStatement.
    ScriptResult Run(std::wstring_view text, bool quiet,
                     const std::function<void(const Value&)>& onStatement = {});

    // Where print and format write; standard output unless set. Empty restores that.
    void SetOutput(std::function<void(std::wstring_view)> output);
    // The error of the last script that failed; empty after one that worked.
    const std::wstring& LastError() const { return lastError_; }

  private:
    class Environment;
    std::unique_ptr<Environment> environment_;
    ScriptRunner runner_;
    std::wstring lastError_;
    std::function<void(std::wstring_view)> output_;
};

}  // namespace KorvoHost
