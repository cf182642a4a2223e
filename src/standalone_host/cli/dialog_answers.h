// The answers `korvo generate` and `korvo script` give the plug-in's dialogs: from the command
// line's options, and from a person at the terminal for the rest.
#pragma once

#include <signal.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "standalone_host/core/host_app.h"
#include "standalone_host/windows/front_end.h"
#include "standalone_host/windows/scripted_front_end.h"

namespace KorvoCli {

struct AnswerOptions {
    std::string output;                // -o: the folder the browser returns
    std::vector<std::string> cameras;  // --camera: the boxes to check
    bool allCameras = false;
    std::optional<bool> save;  // --save / --no-save: the save prompt's answer
    std::string renderer;      // --renderer: made current before Generate; empty: the scene's
};

// Adds -o, --camera, --all-cameras, --save, --no-save and --renderer to a command.
void AddAnswerOptions(CLI::App& command, AnswerOptions& options);

// The renderer names --renderer takes.
const std::vector<std::string>& RendererNames();

class RequestObserver;

// Answers the dialogs of the requests made while it is installed as the host's front end.
class DialogAnswers {
  public:
    // Whether an answer the options do not give stops the command (`korvo generate`), or is
    // left to the dialog's close box (`korvo script`, whose script may never ask).
    enum class Missing { Refuse, Close };

    DialogAnswers();
    ~DialogAnswers();
    DialogAnswers(const DialogAnswers&) = delete;
    DialogAnswers& operator=(const DialogAnswers&) = delete;

    // Makes the answers a check only: the save prompt is cancelled, so that Generate makes its own
    // checks (cameras, renderer) and writes nothing. Call before Prepare.
    void CheckOnly() { checkOnly_ = true; }

    // Checks the options against the open scene and prepares the answers: the renderer made
    // current, the camera names known, every answer given or a terminal to ask. Answers 0, or
    // the exit code with its message on stderr. Nothing is written before it answers 0.
    int Prepare(KorvoHost::HostApp& app, const AnswerOptions& options, Missing missing);

    // Installs the answers as the host's front end for the scope's life. SIGTERM meanwhile
    // presses the run's Cancel (once the run has started; a run's own steps finish first).
    class Scope {
      public:
        explicit Scope(DialogAnswers& answers);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        struct sigaction previousStop_ {};
    };

    // After the requests: the exit code of the last one's outcome (0 done, or passed its checks
    // when CheckOnly; 1 refused or failed with the dialog's message on stderr, 130 cancelled),
    // and whether any dialog was shown.
    int Outcome() const;
    bool Asked() const;
    // Prints the panoramas the requests wrote into the output folder, one path a line, and
    // where the log is; answers the panoramas in the order printed.
    std::vector<std::filesystem::path> ListResults() const;

  private:
    KorvoHost::ScriptedFrontEnd given_;
    std::unique_ptr<KorvoHost::FrontEnd> terminal_;
    std::unique_ptr<RequestObserver> observer_;
    int noInput_ = -1;
    bool asks_ = false;
    bool checkOnly_ = false;
};

}  // namespace KorvoCli
