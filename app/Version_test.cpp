// The three programs say the one version the build was given.

#include <gtest/gtest.h>

#include "KursVersion.h"
#include "testing/Processes.h"

namespace {

TEST(Version, EveryProgramPrintsTheBuildsVersion) {
    const std::string version = KURS_VERSION;
    for (const auto& [path, name] :
         {std::pair{KURS_BINARY, "kurs"}, std::pair{KURS_REPORT_BINARY, "kurs-report"},
          std::pair{KURS_RATES_SERVER_BINARY, "kurs-rates-server"}}) {
        // No display: the window must answer before it would need one.
        auto run = app_testing::RunProgram(path, {"--version"},
                                           {{"DISPLAY", app_testing::kUnset},
                                            {"WAYLAND_DISPLAY", app_testing::kUnset},
                                            {"QT_QPA_PLATFORM", app_testing::kUnset}});
        EXPECT_EQ(run.ExitCode, 0) << name << ": " << run.Err;
        EXPECT_EQ(run.Out, std::string(name) + " " + version + "\n") << name;
    }
}

}  // namespace
