// Test fixtures around one conversion task: prepared with its log collected,
// and run on the test's own thread.
#pragma once

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "tests/support/decoded_checks.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace clipmora::testing {

// The message of the FFMpegException that `step` throws; "(no failure)" when
// it throws none.
template <typename Step>
std::string EngineFailure(Step&& step)
{
    try {
        step();
    } catch (const FFMpegException& e) {
        return e.what();
    }
    return "(no failure)";
}

// A prepared task on bound libraries, whose log lines the test collects.
class TaskFixture : public ::testing::Test {
protected:
    using Options = std::vector<std::pair<const char*, const char*>>;

    void SetUp() override
    {
        BindLibrariesForTests();
        task.PrepareTask();
        task.SetLogSlot([this](TCustomFFmpeg&, int level, const std::string& text) {
            log.emplace_back(level, text);
        });
    }

    // Sets the options in order through the task's option table.
    void parse(const Options& options)
    {
        for (const auto& [name, value] : options)
            task.ParseOption(name, value);
    }

    int countLogged(const std::string& text) const
    {
        int count = 0;
        for (const auto& entry : log)
            count += entry.second == text;
        return count;
    }

    std::string loggedText() const
    {
        std::string all;
        for (const auto& [level, text] : log)
            all += std::to_string(level) + ": " + text + "\n";
        return all;
    }

    TempFolder folder;
    TCustomFFmpeg task;
    std::vector<std::pair<int, std::string>> log;
};

// A task that runs quietly on the test's own thread.
class TaskTest : public TaskFixture {
protected:
    void SetUp() override
    {
        TaskFixture::SetUp();
        task.SetVerbosity(0);
    }

    // Opens `input` with `inputOptions` before it, creates `output` with
    // `outputOptions`, and runs the task to its end on this thread.
    void run(const std::string& input, const Options& outputOptions, const std::string& output,
             const Options& inputOptions = {})
    {
        parse(inputOptions);
        ASSERT_NO_THROW(task.AddInputFile(input));
        parse(outputOptions);
        ASSERT_NO_THROW(task.CreateOutputFile(output));
        task.StartTask(false, tpNormal);
        ASSERT_TRUE(task.Terminated());
        ASSERT_FALSE(task.ExceptionRaised()) << task.ExceptionMessage() << loggedText();
    }
};

}  // namespace clipmora::testing
