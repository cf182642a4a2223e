// Running the cube loop in this process against the standalone host: a scene, the plug-in's
// utility object with a prepared run, a log in the output folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "korvo_plugin.h"
#include "korvostereo/korvo_stereo_desc.h"
#include "shell/cube_loop.h"
#include "shell/workflow.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/windows/front_end.h"
#include "support/log.h"
#include "support/module_handle.h"
#include "test_support/temp_dir.h"
#include "test_support/test_host.h"

namespace KorvoTest {

namespace fs = std::filesystem;

// Stands for another request handled while a run lets window messages through: it empties the
// camera list.
class CameraListClearer final : public KorvoHost::FrontEnd {
  public:
    Answer AnswerModal(HWND) override { return Answer::NoAnswer; }
    void PollInput() override { Korvo::ClearCameras(Korvo::GetKorvoPlugin()); }
};

class CubeRun : public ::testing::Test {
  protected:
    CubeRun() {
        // The plug-in's code is linked into this program; its resources are found through it.
        Korvo::SetPluginInstance(GetModuleHandleW(nullptr));
        app_ = std::make_unique<KorvoHost::HostApp>(KorvoTest::PrivateHostOptions(temp_.path()));
        app_->Core().SetRenderSamples(1);
        // The plug-in's classes, as its library would offer them to scripts.
        app_->Core().AddClass(Korvo::GetKorvoStereoDesc());
        workFolder_ = temp_.path() / "host" / "korvo_scratch";
        outputFolder_ = temp_.path() / "out";
        fs::create_directories(workFolder_);
        fs::create_directories(outputFolder_);
    }
    ~CubeRun() override {
        Korvo::ClearCameras(plugin());
        Korvo::CloseLog();
    }

    Korvo::KorvoPlugin& plugin() { return Korvo::GetKorvoPlugin(); }

    void OpenScene(const fs::path& file) {
        std::string error;
        ASSERT_TRUE(app_->OpenScene(file, &error)) << error;
    }
    void OpenSceneText(const std::string& json) {
        const fs::path file = temp_.path() / "scene.json";
        std::ofstream(file) << json;
        OpenScene(file);
    }

    // Prepares a run as the Generate workflow does: camera list, names, picked cameras, log.
    void Prepare(const std::vector<std::wstring>& picked, const std::wstring& sceneName = L"room") {
        Korvo::KorvoPlugin& p = plugin();
        Korvo::get_cams(p);
        p.sceneName = sceneName;
        p.workFolder = KorvoHost::FromPath(workFolder_);
        p.outputFolder = KorvoHost::FromPath(outputFolder_);
        Korvo::OpenLog(p.outputFolder);
        for (Korvo::CameraData* camera : p.cameras)
            camera->fileName = Korvo::StripFileName(p, camera->node);
        for (Korvo::CameraData* camera : p.cameras) {
            for (const std::wstring& name : picked) {
                if (name == camera->node->GetName()) {
                    camera->selected = true;
                    Korvo::fix_cam(p, camera->node);
                }
            }
        }
    }

    bool Run() { return Korvo::RenderCubeFaces(plugin(), plugin().progress); }

    // The log's entries without their timestamps.
    std::vector<std::string> LogLines() {
        std::ifstream in(outputFolder_ / "korvo_log.txt", std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto colon = line.find(": ");
            lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
        }
        return lines;
    }

    INode* Node(const wchar_t* name) { return app_->Core().GetINodeByName(name); }

    // The names of the panoramas in the output folder, sorted.
    std::vector<fs::path> OutputFiles() {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(outputFolder_))
            if (entry.path().extension() == ".jpg") files.push_back(entry.path().filename());
        std::sort(files.begin(), files.end());
        return files;
    }

    TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
    fs::path workFolder_;
    fs::path outputFolder_;
};

}  // namespace KorvoTest
