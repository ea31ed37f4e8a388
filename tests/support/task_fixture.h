// A test fixture around one conversion task run on the test's own thread.
#pragma once

#include "engine/ffmpeg.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace clipmora::testing {

class TaskTest : public ::testing::Test {
protected:
    using Options = std::initializer_list<std::pair<const char*, const char*>>;

    void SetUp() override
    {
        BindLibrariesForTests();
        task.PrepareTask();
        task.SetVerbosity(0);
        task.SetLogSlot([this](TCustomFFmpeg&, int level, const std::string& text) {
            log.emplace_back(level, text);
        });
    }

    // Opens `input` with `inputOptions` before it, creates `output` with
    // `outputOptions`, and runs the task to its end on this thread.
    void run(const std::string& input, Options outputOptions, const std::string& output,
             Options inputOptions = {})
    {
        for (const auto& [name, value] : inputOptions)
            task.ParseOption(name, value);
        ASSERT_TRUE(task.AddInputFile(input)) << task.TaskError();
        for (const auto& [name, value] : outputOptions)
            task.ParseOption(name, value);
        ASSERT_TRUE(task.CreateOutputFile(output)) << task.TaskError();
        task.StartTask(false, tpNormal);
        ASSERT_TRUE(task.Terminated());
        ASSERT_FALSE(task.ExceptionRaised()) << task.ExceptionMessage() << loggedText();
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

}  // namespace clipmora::testing
