// The engine component: task list, runs on worker threads and on the owner's
// thread, stopping, the option records, and the route of library log lines.
#include "engine/conversions.h"
#include "engine/ffmpeg_exception.h"
#include "engine/library_binding.h"
#include "engine/option_records.h"
#include "engine/transcoder.h"
#include "engine/transcoder_tasks.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace clipmora {
namespace {

using namespace std::chrono_literals;
using testing::CachedMedia;

struct TerminateReport {
    int index;
    bool finished;
    bool exception;
    std::string message;
    std::thread::id thread;
};

struct LogReport {
    int index;
    TLogLevel level;
    std::string text;
};

// What the component reported, collected from whichever thread reported it.
class Reports {
public:
    void Attach(TTranscoder& transcoder)
    {
        transcoder.OnLog = [this](int index, TLogLevel level, const std::string& text) {
            std::lock_guard guard(lock_);
            logs_.push_back({index, level, text});
        };
        transcoder.OnTerminate = [this](int index, bool finished, bool exception,
                                        const std::string& message) {
            // First, so that what it touches is done with once a waiter wakes.
            if (onTerminate)
                onTerminate(index);
            std::lock_guard guard(lock_);
            const std::thread::id thread = std::this_thread::get_id();
            terminates_.push_back({index, finished, exception, message, thread});
            changed_.notify_all();
        };
    }

    bool WaitForRunEnd(std::chrono::seconds timeout = 60s)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [this] { return runEnded(); });
    }

    // Waits until `count` ends have been reported in all.
    bool WaitForTerminates(size_t count, std::chrono::seconds timeout = 60s)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return terminates_.size() >= count; });
    }

    bool RunEnded()
    {
        std::lock_guard guard(lock_);
        return runEnded();
    }

    std::vector<TerminateReport> Terminates()
    {
        std::lock_guard guard(lock_);
        return terminates_;
    }

    std::vector<LogReport> Logs()
    {
        std::lock_guard guard(lock_);
        return logs_;
    }

    std::vector<LogReport> LogsContaining(const std::string& text)
    {
        std::vector<LogReport> found;
        for (const LogReport& log : Logs())
            if (log.text.find(text) != std::string::npos)
                found.push_back(log);
        return found;
    }

    std::string LogText()
    {
        std::string text;
        for (const LogReport& log : Logs())
            text += std::to_string(log.index) + ": " + log.text + "\n";
        return text;
    }

    // Called before the report is recorded, outside the recorder's lock.
    std::function<void(int index)> onTerminate;

private:
    bool runEnded() const
    {
        return std::any_of(terminates_.begin(), terminates_.end(),
                           [](const TerminateReport& r) { return r.index == -1; });
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<LogReport> logs_;
    std::vector<TerminateReport> terminates_;
};

// A timer for the main-thread mode that the test pumps on its own thread.
class ManualScheduler {
public:
    TCustomTranscoder::TScheduler Function()
    {
        return [this](int delayMs, std::function<void()> job) {
            std::lock_guard guard(lock_);
            delays.push_back(delayMs);
            maxWaiting = std::max(maxWaiting, static_cast<int>(jobs_.size()) + 1);
            jobs_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs),
                             std::move(job)});
        };
    }

    // Runs the jobs that are due on the calling thread until `done` holds.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds timeout = 60s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::function<void()> job;
            {
                std::lock_guard guard(lock_);
                if (!jobs_.empty() && jobs_.front().first <= std::chrono::steady_clock::now()) {
                    job = std::move(jobs_.front().second);
                    jobs_.pop_front();
                }
            }
            if (job)
                job();
            else
                std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    std::vector<int> delays;
    int maxWaiting = 0;

private:
    std::mutex lock_;
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::function<void()>>> jobs_;
};

// Which tasks have decoded a picture and which have ended, seen from the
// custom hook (called on the task's thread for every decoded picture).
class Activity {
public:
    void Started(int index, int waitForBoth)
    {
        std::unique_lock guard(lock_);
        if (started_.insert(index).second) {
            if (index == 2 && ended_.empty())
                secondBatchEarly = true;
            maxActive = std::max(maxActive, static_cast<int>(started_.size() - ended_.size()));
            changed_.notify_all();
        }
        // Tasks 0 and 1 hold their first picture until both have one: both
        // run at the same time, and task 2 cannot have begun meanwhile.
        if (waitForBoth && index < 2 && !bothMet) {
            bothMet = changed_.wait_for(guard, 20s, [this] {
                return started_.count(0) && started_.count(1);
            });
            if (started_.count(2))
                secondBatchEarly = true;
        }
    }

    void Ended(int index)
    {
        std::lock_guard guard(lock_);
        if (index >= 0)
            ended_.insert(index);
    }

    bool secondBatchEarly = false;
    bool bothMet = false;
    int maxActive = 0;

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::set<int> started_, ended_;
};

class TranscoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::BindLibrariesForTests();
        ASSERT_TRUE(transcoder.LoadCodecLibraries(CLIPMORA_COMMON_DIR, true))
            << transcoder.LastError();
        reports.Attach(transcoder);
    }

    void TearDown() override { SetLibraryLogLevel(0); }

    static std::string Clip() { return CachedMedia("clip.mp4", testing::Mp4H264Aac()); }

    // Pictures are decoded and re-encoded, so the custom hook sees every one.
    static TOutputOptions Mpeg4VideoOnly()
    {
        TOutputOptions options;
        options.VideoCodec = "mpeg4";
        options.DisableAudio = true;
        options.EnableCustomHook = true;
        return options;
    }

    int AddTask(const std::string& outputName, const TOutputOptions& options = Mpeg4VideoOnly())
    {
        const int index = transcoder.AppendTask(Clip());
        EXPECT_GE(index, 0) << transcoder.LastError();
        if (index >= 0) {
            EXPECT_TRUE(transcoder.AttachOutput(index, folder.file(outputName), &options))
                << transcoder.LastError();
        }
        return index;
    }

    void AddThreeTasks()
    {
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(AddTask("out" + std::to_string(i) + ".avi"), i);
    }

    // Records hook activity; every task's first picture also logs a line
    // through the libraries' logger from the task's thread.
    void WatchActivity(Activity& activity, bool waitForBoth)
    {
        transcoder.OnCustomHook = [this, &activity, waitForBoth](int index, THookBitmap&, int,
                                                                 int64_t, bool&, bool&) {
            if (firstPictures_.fetch_or(1 << index) & (1 << index))
                return;
            lib.av_log(nullptr, AV_LOG_INFO, "first picture of task %d\n", index);
            activity.Started(index, waitForBoth);
        };
        reports.onTerminate = [&activity](int index) { activity.Ended(index); };
    }

    std::vector<int> TerminatedIndices()
    {
        std::vector<int> indices;
        for (const TerminateReport& report : reports.Terminates())
            indices.push_back(report.index);
        return indices;
    }

    testing::TempFolder folder;
    Reports reports;  // outlives the component, which may report while it goes
    TTranscoder transcoder;

private:
    std::atomic<int> firstPictures_{0};
};

// Properties -----------------------------------------------------------------

TEST_F(TranscoderTest, PropertiesKeepTheirLimits)
{
    EXPECT_EQ(transcoder.ProgressInterval(), 500);
    transcoder.SetProgressInterval(50);
    EXPECT_EQ(transcoder.ProgressInterval(), 100);
    transcoder.SetProgressInterval(101);
    EXPECT_EQ(transcoder.ProgressInterval(), 101);

    transcoder.SetThreadPriority(static_cast<TConvertPriority>(6));
    EXPECT_EQ(transcoder.ThreadPriority(), tpNormal);
    transcoder.SetThreadPriority(tpIdle);
    EXPECT_EQ(transcoder.ThreadPriority(), tpIdle);

    transcoder.SetLogLevel(llDebug);
    EXPECT_EQ(LogThreshold(), 2);
    transcoder.SetLogLevel(llQuiet);
    EXPECT_EQ(LogThreshold(), -1);
    EXPECT_EQ(TTranscoder::Version(), "2.0b");
}

// Creating and configuring tasks ----------------------------------------------

TEST_F(TranscoderTest, AppendTaskFailuresLeaveTheirTextInLastError)
{
    EXPECT_EQ(transcoder.AppendTask("/no/such/clip.mp4"), -1);
    EXPECT_NE(transcoder.LastError().find("no such file or directory"), std::string::npos)
        << transcoder.LastError();

    TInputOptions options;
    options.ForcedFormat = "nosuchformat";
    EXPECT_EQ(transcoder.AppendTask(Clip(), &options), -1);
    EXPECT_EQ(transcoder.LastError(), "Unknown input format: nosuchformat");

    options = TInputOptions{};
    options.ExtraOptions = "qscale=0";
    EXPECT_EQ(transcoder.AppendTask(Clip(), &options), -1);
    EXPECT_EQ(transcoder.LastError(), "qscale must be > 0.0 and <= 255");

    options.ExtraOptions = "ar=fast";
    EXPECT_EQ(transcoder.AppendTask(Clip(), &options), -1);
    EXPECT_EQ(transcoder.LastError(), "'fast' is not a valid integer value");
    EXPECT_EQ(transcoder.TaskCount(), 0);

    options = TInputOptions{};
    ASSERT_EQ(transcoder.AppendTask(Clip(), &options), 0) << transcoder.LastError();
    EXPECT_EQ(transcoder.Task(0)->InputOptions().FileName, Clip());
    EXPECT_EQ(transcoder.Task(0)->TaskIndex(), 0);

    transcoder.ClearTaskList();
    EXPECT_EQ(transcoder.LastError(), "");
    EXPECT_EQ(transcoder.TaskCount(), 0);
}

TEST_F(TranscoderTest, AScriptsUnreadableSourceIsLoggedByName)
{
    const std::string broken = folder.file("broken.mp4");
    std::ofstream(broken) << "not a video at all";
    const std::string script = folder.file("r.avs");
    std::ofstream(script, std::ios::binary)
        << "DirectShowSource(\"" << broken << "\", fps=25, convertfps=true)\r\nTRIM(0,9)\r\n";
    transcoder.SetLogLevel(llError);
    EXPECT_EQ(transcoder.AppendTask(script), -1);
    EXPECT_EQ(transcoder.LastError(), script + ": Unknown format") << "the engine's text stays";
    EXPECT_FALSE(reports.LogsContaining(script + ": cannot read its source " + broken).empty());

    // An input that is the output's own source is refused before it is touched.
    const std::string clip = folder.file("clip.mp4");
    std::filesystem::copy_file(Clip(), clip);
    std::ofstream(script, std::ios::binary | std::ios::trunc)
        << "DirectShowSource(\"" << clip << "\", fps=25, convertfps=true)\r\nTRIM(0,9)\r\n";
    const int index = transcoder.AppendTask(script);
    ASSERT_GE(index, 0) << transcoder.LastError();
    const auto size = std::filesystem::file_size(clip);
    EXPECT_FALSE(transcoder.AttachOutput(index, clip));
    EXPECT_NE(transcoder.LastError().find("is an input of this task"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(clip), size);
}

TEST_F(TranscoderTest, AttachOutputFailuresKeepTheTask)
{
    ASSERT_EQ(transcoder.AppendTask(Clip()), 0);
    TOutputOptions options;
    options.Format = "nosuchformat";
    EXPECT_FALSE(transcoder.AttachOutput(0, folder.file("out.avi"), &options));
    EXPECT_EQ(transcoder.LastError(), "Unknown output format: nosuchformat");
    EXPECT_EQ(transcoder.TaskCount(), 1);

    EXPECT_FALSE(transcoder.AttachOutput(5, folder.file("out.avi"), nullptr));
    EXPECT_EQ(transcoder.LastError(), "Task index 5 is out of range");
}

TEST_F(TranscoderTest, OutputRecordFieldsFollowTheExtraOptions)
{
    ASSERT_EQ(transcoder.AppendTask(Clip()), 0);
    TOutputOptions options;
    options.ExtraOptions = "  ar=48000\r\nab=300\rtitle=Extra  ";
    options.VideoCodec = "mpeg4";
    options.AudioCodec = "libmp3lame";
    options.AudioSampleRate = 22050;  // applied after the extra options
    options.VideoBitrate = 300;       // set as given, without the kbit/s warning
    options.DurationMs = 1500;
    options.Year = 2009;
    options.Track = 7;
    options.Title = "Field";
    ASSERT_TRUE(transcoder.AttachOutput(0, folder.file("fields.avi"), &options))
        << transcoder.LastError();

    const TFFmpeg& task = *transcoder.Task(0);
    EXPECT_EQ(task.OutputOptions().FileName, folder.file("fields.avi"));
    const OutputFile& file = task.OutputFiles().back();
    int audioRate = 0;
    int64_t videoBitRate = 0;
    for (const OutputStreamSetup& stream : file.streams) {
        if (stream.codec->codec_type == AVMEDIA_TYPE_AUDIO)
            audioRate = stream.codec->sample_rate;
        if (stream.codec->codec_type == AVMEDIA_TYPE_VIDEO)
            videoBitRate = stream.codec->bit_rate;
    }
    EXPECT_EQ(audioRate, 22050);
    EXPECT_EQ(videoBitRate, 300);
    // Only "ab" from the extra options warns.
    EXPECT_EQ(reports.LogsContaining("The bitrate parameter is set too low").size(), 1u)
        << reports.LogText();
    EXPECT_EQ(task.TotalOutputDurationMs(), 1500);
    EXPECT_EQ(task.Options().recordingTime, 1500000);
    EXPECT_EQ(task.Options().year, 2009);
    EXPECT_EQ(task.Options().track, 7);
    EXPECT_FALSE(task.Options().copyTimestamps);
    const AVDictionaryEntry* title = lib.av_dict_get(file.context->metadata, "title", nullptr, 0);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title->value, "Field");
}

// Sets TZ for the lifetime of the object.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* current = std::getenv("TZ"))
            saved_ = current;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(TranscoderTest, TimestampIsLocalTimeTurnedIntoUtcSeconds)
{
    auto stampOf = [this](double timestamp) -> int64_t {
        const int index = transcoder.AppendTask(Clip());
        TOutputOptions options;
        options.Timestamp = timestamp;
        EXPECT_TRUE(transcoder.AttachOutput(index, folder.file("stamp" + std::to_string(index) +
                                                               ".mkv"),
                                            &options))
            << transcoder.LastError();
        return transcoder.Task(index)->Options().recordingTimestamp;
    };
    const double noonOnNewYear2010 = 40179.5;  // days since 1899-12-30
    {
        TimeZone zone("UTC0");
        EXPECT_EQ(stampOf(noonOnNewYear2010), 1262347200);
    }
    {
        TimeZone zone("EST5");  // five hours behind UTC, no daylight saving
        EXPECT_EQ(stampOf(noonOnNewYear2010), 1262347200 + 5 * 3600);
    }
    const int64_t now = std::time(nullptr);
    EXPECT_NEAR(static_cast<double>(stampOf(0.0)), static_cast<double>(now), 5.0);
    EXPECT_EQ(stampOf(-1.0), 0) << "negative values are not applied";
}

TEST(SegmentListTest, KeepsOrderedRangesInMicrosecondsSortedByEnd)
{
    using Ranges = std::vector<std::pair<int64_t, int64_t>>;
    EXPECT_EQ(ParseSegmentList("0-1000, 5000-3000 ,2000-4000"),
              (Ranges{{0, 1000000}, {2000000, 4000000}}));
    EXPECT_EQ(ParseSegmentList(" 7000-9000,1000 - 2000 "),
              (Ranges{{1000000, 2000000}, {7000000, 9000000}}));
    EXPECT_EQ(ParseSegmentList(""), Ranges{});
    EXPECT_EQ(ParseSegmentList("a-b,300,4-x"), Ranges{}) << "no end that reads as a number";
    EXPECT_EQ(ParseSegmentList("99999999999999999-99999999999999999"), Ranges{})
        << "milliseconds whose microseconds do not fit";
}

// Options given as text land in the record fields that would otherwise
// override them; every other option is left to the extra options.
TEST(OutputRecordTest, FieldOptionsAreStoredInTheirFields)
{
    TOutputOptions record;
    EXPECT_TRUE(StoreInOutputRecord(record, "async", "1"));
    EXPECT_TRUE(StoreInOutputRecord(record, "vsync", "0"));
    EXPECT_TRUE(StoreInOutputRecord(record, "alang", "deu"));
    EXPECT_TRUE(StoreInOutputRecord(record, "slang", "fra"));
    EXPECT_TRUE(StoreInOutputRecord(record, "padcolor", "255"));
    EXPECT_EQ(record.AudioSync, 1);
    EXPECT_EQ(record.VideoSync, 0);
    EXPECT_EQ(record.AudioLanguage, "deu");
    EXPECT_EQ(record.SubtitleLanguage, "fra");
    EXPECT_EQ(record.PadColor, 255u);
    for (const char* name : {"vcodec", "padtop", "t", "title", "nosuch"})
        EXPECT_FALSE(StoreInOutputRecord(record, name, "1")) << name;
    EXPECT_THROW(StoreInOutputRecord(record, "async", "soon"), ConversionError);
}

TEST_F(TranscoderTest, HookChoiceFollowsTheOutputRecord)
{
    TOutputOptions options;
    options.VideoCodec = "mpeg4";
    options.SegmentList = "0-1000,2000-4000";
    options.EnableBeforeHook = true;
    options.EnableCustomHook = true;
    ASSERT_EQ(AddTask("both.avi", options), 0);
    EXPECT_TRUE(transcoder.Task(0)->HasCustomHookSlot());
    EXPECT_FALSE(transcoder.Task(0)->HasBeforeHookSlot());
    EXPECT_TRUE(transcoder.Task(0)->HookTimeRanges().empty());

    options.EnableCustomHook = false;
    ASSERT_EQ(AddTask("before.avi", options), 1);
    EXPECT_FALSE(transcoder.Task(1)->HasCustomHookSlot());
    EXPECT_TRUE(transcoder.Task(1)->HasBeforeHookSlot());
    EXPECT_TRUE(transcoder.Task(1)->HookTimeRanges().empty());

    options.EnableBeforeHook = false;
    ASSERT_EQ(AddTask("ranges.avi", options), 2);
    EXPECT_FALSE(transcoder.Task(2)->HasBeforeHookSlot());
    EXPECT_EQ(transcoder.Task(2)->HookTimeRanges().size(), 2u);
}

TEST_F(TranscoderTest, DeleteTaskRenumbersTheTasksBehindIt)
{
    AddThreeTasks();
    transcoder.DeleteTask(7);  // outside the list: nothing happens
    transcoder.DeleteTask(0);
    ASSERT_EQ(transcoder.TaskCount(), 2);
    EXPECT_EQ(transcoder.Task(0)->TaskIndex(), 0);
    EXPECT_EQ(transcoder.Task(0)->OutputOptions().FileName, folder.file("out1.avi"));
    EXPECT_EQ(transcoder.Task(1)->TaskIndex(), 1);
    EXPECT_EQ(transcoder.Task(1)->OutputOptions().FileName, folder.file("out2.avi"));

    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd());
    EXPECT_EQ(TerminatedIndices(), (std::vector<int>{0, 1, -1}));
    EXPECT_TRUE(std::filesystem::exists(folder.file("out1.avi")));
    EXPECT_TRUE(std::filesystem::exists(folder.file("out2.avi")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("out0.avi")));
}

// Runs --------------------------------------------------------------------------

TEST_F(TranscoderTest, OneThreadRunsTheTasksOneAfterAnother)
{
    AddThreeTasks();
    Activity activity;
    WatchActivity(activity, false);
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();

    const std::vector<TerminateReport> ends = reports.Terminates();
    ASSERT_EQ(ends.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ends[i].index, i);
        EXPECT_TRUE(ends[i].finished) << ends[i].message << reports.LogText();
        EXPECT_FALSE(ends[i].exception);
        EXPECT_NE(ends[i].thread, std::this_thread::get_id());
        EXPECT_EQ(testing::DecodeMedia(folder.file("out" + std::to_string(i) + ".avi")).videoFrames,
                  50);
    }
    EXPECT_EQ(ends[3].index, -1);
    EXPECT_TRUE(ends[3].finished);
    EXPECT_EQ(activity.maxActive, 1);
    EXPECT_EQ(transcoder.ThreadCount(), 1);
    // A library line logged on a task's thread carries that task's index.
    for (int i = 0; i < 3; ++i) {
        const auto lines = reports.LogsContaining("first picture of task " + std::to_string(i));
        ASSERT_EQ(lines.size(), 1u) << reports.LogText();
        EXPECT_EQ(lines[0].index, i);
        EXPECT_EQ(lines[0].level, llInfo);
    }

    // The tasks have run; a second start has nothing to do and reports
    // nothing. A run cannot begin while another is in progress, so the run
    // of a task added next reports after anything the empty start could.
    transcoder.StartTasks(1);
    ASSERT_EQ(AddTask("out3.avi"), 3);
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForTerminates(6)) << reports.LogText();
    EXPECT_EQ(TerminatedIndices(), (std::vector<int>{0, 1, 2, -1, 3, -1}));
}

TEST_F(TranscoderTest, DiscTargetsGiveTheMuxerTheEncodersBufferSize)
{
    transcoder.SetLogLevel(llInfo);
    for (int type = 1; type <= 3; ++type) {
        const int index = transcoder.AppendTask(Clip());
        ASSERT_EQ(index, type - 1) << transcoder.LastError();
        TOutputOptions options;
        options.TargetType = type;
        ASSERT_TRUE(transcoder.AttachOutput(index, folder.file("disc" + std::to_string(type) + ".mpg"),
                                            &options))
            << transcoder.LastError();
    }
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();
    for (const TerminateReport& end : reports.Terminates())
        EXPECT_TRUE(end.finished) << end.message << reports.LogText();
    EXPECT_TRUE(reports.LogsContaining("VBV buffer size not set").empty()) << reports.LogText();
    EXPECT_TRUE(reports.LogsContaining("Invalid value").empty()) << reports.LogText();
    EXPECT_TRUE(reports.LogsContaining("ignored option").empty()) << reports.LogText();
    EXPECT_EQ(testing::DecodeMedia(folder.file("disc2.mpg")).width, 480) << "SVCD";
}

TEST_F(TranscoderTest, PacketDumpsAndTheFilledInOutputDescriptionAreLogged)
{
    transcoder.SetLogLevel(llInfo);
    TInputOptions input;
    input.ExtraOptions = "dump\nhex";
    const int index = transcoder.AppendTask(Clip(), &input);
    ASSERT_EQ(index, 0) << transcoder.LastError();
    TOutputOptions output = Mpeg4VideoOnly();
    output.EnableCustomHook = false;
    ASSERT_TRUE(transcoder.AttachOutput(index, folder.file("dumped.avi"), &output));
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();
    EXPECT_FALSE(reports.LogsContaining("keyframe=").empty()) << "one dump per packet read";
    EXPECT_FALSE(reports.LogsContaining("00000000 ").empty()) << "with the payload in hex";
    EXPECT_TRUE(reports.LogsContaining("none, none").empty()) << reports.LogText();
    EXPECT_FALSE(reports.LogsContaining("Video: mpeg4").empty()) << reports.LogText();
}

TEST_F(TranscoderTest, TwoThreadsRunTwoTasksAndStartTheThirdWhenOneEnds)
{
    AddThreeTasks();
    Activity activity;
    WatchActivity(activity, true);
    transcoder.StartTasks(2);
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();

    EXPECT_TRUE(activity.bothMet) << "tasks 0 and 1 did not run at the same time";
    EXPECT_FALSE(activity.secondBatchEarly) << "task 2 began before a task ended";
    EXPECT_EQ(activity.maxActive, 2);
    const std::vector<TerminateReport> ends = reports.Terminates();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends.back().index, -1);
    std::set<int> tasks;
    for (int i = 0; i < 3; ++i) {
        tasks.insert(ends[i].index);
        EXPECT_TRUE(ends[i].finished) << ends[i].message;
    }
    EXPECT_EQ(tasks, (std::set<int>{0, 1, 2}));
}

TEST_F(TranscoderTest, ThreadCountZeroRunsEachTaskOnTheOwnersThreadAfter100Ms)
{
    AddThreeTasks();
    ManualScheduler scheduler;
    transcoder.SetScheduler(scheduler.Function());
    Activity activity;
    WatchActivity(activity, false);
    transcoder.StartTasks(0);
    EXPECT_TRUE(reports.Terminates().empty()) << "nothing runs before the timer fires";
    ASSERT_TRUE(scheduler.PumpUntil([this] { return reports.RunEnded(); })) << reports.LogText();

    EXPECT_EQ(TerminatedIndices(), (std::vector<int>{0, 1, 2, -1}));
    for (const TerminateReport& report : reports.Terminates()) {
        EXPECT_EQ(report.thread, std::this_thread::get_id());
        EXPECT_TRUE(report.finished) << report.message;
    }
    EXPECT_EQ(scheduler.delays, (std::vector<int>{100, 100, 100}));
    EXPECT_EQ(scheduler.maxWaiting, 1) << "one start at a time";
    EXPECT_EQ(activity.maxActive, 1);
    const auto lines = reports.LogsContaining("first picture of task 2");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].index, 2) << "the owner's thread runs task 2 at that moment";
}

TEST_F(TranscoderTest, ThreadCountZeroNeedsAScheduler)
{
    AddTask("out.avi");
    EXPECT_THROW(transcoder.StartTasks(0), std::logic_error);
}

TEST_F(TranscoderTest, StopRightAfterTheStartEndsEveryTaskOnce)
{
    AddThreeTasks();
    transcoder.StartTasks(1);
    transcoder.StopTasks();
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();

    const std::vector<TerminateReport> ends = reports.Terminates();
    ASSERT_EQ(ends.size(), 4u) << reports.LogText();
    std::set<int> tasks;
    for (int i = 0; i < 3; ++i) {
        tasks.insert(ends[i].index);
        EXPECT_FALSE(ends[i].finished) << ends[i].index;
        EXPECT_FALSE(ends[i].exception) << ends[i].message;
        EXPECT_NE(ends[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(tasks, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(ends[3].index, -1);
    EXPECT_TRUE(ends[3].finished);
    EXPECT_FALSE(ends[3].exception);
}

TEST_F(TranscoderTest, StartChecksAndRunFailuresAreReportedAsExceptions)
{
    ASSERT_EQ(transcoder.AppendTask(Clip()), 0);  // no output
    TOutputOptions copyWithVolume;
    copyWithVolume.AudioCodec = "copy";
    copyWithVolume.Volume = 512;
    ASSERT_EQ(AddTask("volume.mkv", copyWithVolume), 1);
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();

    const std::vector<TerminateReport> ends = reports.Terminates();
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(ends[0].index, 0);
    EXPECT_FALSE(ends[0].finished);
    EXPECT_TRUE(ends[0].exception);
    EXPECT_EQ(ends[0].message, "Must supply at least one output file");
    EXPECT_EQ(ends[1].index, 1);
    EXPECT_FALSE(ends[1].finished);
    EXPECT_TRUE(ends[1].exception);
    EXPECT_EQ(ends[1].message, "-acodec copy and -vol are incompatible (frames are not decoded)");
    EXPECT_EQ(ends[2].index, -1);

    for (const TerminateReport& end : {ends[0], ends[1]}) {
        const auto lines = reports.LogsContaining(end.message);
        ASSERT_EQ(lines.size(), 1u) << reports.LogText();
        EXPECT_EQ(lines[0].index, end.index);
        EXPECT_EQ(lines[0].level, llQuiet);
    }
}

TEST_F(TranscoderTest, ClearingTheListFromAnEndReportDefersTheRelease)
{
    AddThreeTasks();
    reports.onTerminate = [this](int index) {
        if (index == 0)
            transcoder.ClearTaskList();  // on task 0's own thread
    };
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd()) << reports.LogText();
    EXPECT_EQ(transcoder.TaskCount(), 0);

    const std::vector<TerminateReport> ends = reports.Terminates();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends[0].index, 0);
    EXPECT_TRUE(ends[0].finished);
    std::set<int> stopped{ends[1].index, ends[2].index};
    EXPECT_EQ(stopped, (std::set<int>{1, 2}));
    EXPECT_FALSE(ends[1].finished);
    EXPECT_FALSE(ends[2].finished);
    EXPECT_EQ(ends[3].index, -1);

    // The detached tasks go with the next operation on this thread.
    EXPECT_EQ(AddTask("again.avi"), 0);
}

TEST_F(TranscoderTest, HandlersMayLogStopAndDetachWithoutWaitingForThemselves)
{
    AddThreeTasks();
    // Task 0's end report logs, stops the run and logs again; the lines come
    // after the report that caused them, in the order they were logged, and
    // before the run's end.
    std::vector<std::string> order;
    std::mutex orderLock;
    transcoder.OnLog = [&](int, TLogLevel, const std::string& text) {
        std::lock_guard guard(orderLock);
        order.push_back(text);
    };
    reports.onTerminate = [&](int index) {
        {
            std::lock_guard guard(orderLock);
            order.push_back("end " + std::to_string(index));
        }
        if (index != 0)
            return;
        lib.av_log(nullptr, AV_LOG_INFO, "before the stop\n");
        transcoder.StopTasks();
        // The other tasks' ends, and with them the run's, are queued before
        // the next line is logged, as a slow handler would find them.
        transcoder.Task(1)->WaitForThread();
        transcoder.Task(2)->WaitForThread();
        lib.av_log(nullptr, AV_LOG_INFO, "after the stop\n");
    };
    transcoder.StartTasks(1);
    ASSERT_TRUE(reports.WaitForRunEnd());

    std::lock_guard guard(orderLock);
    const auto at = [&order](const std::string& text) {
        return std::find(order.begin(), order.end(), text) - order.begin();
    };
    ASSERT_LT(at("end 0"), static_cast<std::ptrdiff_t>(order.size()));
    EXPECT_LT(at("end 0"), at("before the stop"));
    EXPECT_LT(at("before the stop"), at("after the stop"));
    EXPECT_LT(at("after the stop"), at("end -1"));
    const std::vector<TerminateReport> ends = reports.Terminates();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_TRUE(ends[0].finished);
    EXPECT_FALSE(ends[1].finished);
    EXPECT_FALSE(ends[2].finished);
    EXPECT_EQ(ends[3].index, -1);
}

TEST_F(TranscoderTest, DetachingFromAHandlerEndsTheReports)
{
    AddThreeTasks();
    reports.onTerminate = [this](int) { transcoder.DetachEvents(); };
    transcoder.StartTasks(1);
    // Only the first end is heard; the rest of the run has no listeners.
    transcoder.ClearTaskList();
    EXPECT_EQ(reports.Terminates().size(), 1u);
}

TEST_F(TranscoderTest, ClearTaskListDuringARunStopsItFirst)
{
    AddThreeTasks();
    transcoder.StartTasks(2);
    transcoder.ClearTaskList();
    // Every task of the run has reported its end before the list emptied.
    EXPECT_TRUE(reports.RunEnded());
    EXPECT_EQ(reports.Terminates().size(), 4u);
    EXPECT_EQ(transcoder.TaskCount(), 0);
    EXPECT_EQ(transcoder.ThreadCount(), 0);
}

// The ids of this process's threads.
std::set<std::string> ProcessThreads()
{
    std::set<std::string> threads;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        threads.insert(entry.path().filename().string());
    return threads;
}

TEST(TranscoderLifetimeTest, DestroyingTheComponentStopsAndJoinsItsTasks)
{
    testing::BindLibrariesForTests();
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    const std::string clip = CachedMedia("clip 6s.mp4", spec);
    testing::TempFolder folder;
    const std::set<std::string> before = ProcessThreads();
    std::atomic<int> pictures{0};
    Reports reports;
    {
        TTranscoder transcoder;
        ASSERT_TRUE(transcoder.LoadCodecLibraries(CLIPMORA_COMMON_DIR, true));
        reports.Attach(transcoder);
        transcoder.OnCustomHook = [&pictures](int, THookBitmap&, int, int64_t, bool&, bool&) {
            ++pictures;
            std::this_thread::sleep_for(1ms);
        };
        TOutputOptions options;
        options.VideoCodec = "mpeg4";
        options.EnableCustomHook = true;
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(transcoder.AppendTask(clip), i);
            ASSERT_TRUE(transcoder.AttachOutput(i, folder.file(std::to_string(i) + ".avi"),
                                                &options));
        }
        transcoder.StartTasks(1);
        while (pictures == 0)
            std::this_thread::sleep_for(1ms);
    }
    // Once every thread the run started has ended, none is left to report.
    const std::size_t reported = reports.Terminates().size();
    const auto newThreadsLeft = [&before] {
        const std::set<std::string> now = ProcessThreads();
        return !std::includes(before.begin(), before.end(), now.begin(), now.end());
    };
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (newThreadsLeft() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_FALSE(newThreadsLeft()) << "a thread of the component outlived it";
    EXPECT_EQ(reports.Terminates().size(), reported) << "nothing reports after destruction";
    EXPECT_LT(pictures.load(), 150);
    SetLibraryLogLevel(0);
}

// The log route -----------------------------------------------------------------

const char* sampleItemName(void*) { return "sample"; }

AVClass sampleClass()
{
    AVClass record{};
    record.class_name = "SampleClass";
    record.item_name = sampleItemName;
    record.version = LIBAVUTIL_VERSION_INT;
    return record;
}

const AVClass kSampleClass = sampleClass();

struct SampleContext {
    const AVClass* record = &kSampleClass;
};

TEST_F(TranscoderTest, LibraryMessagesJoinIntoLinesPerThread)
{
    SampleContext context;
    lib.av_log(&context, AV_LOG_INFO, "first %s, ", "part");
    std::thread other([] {
        lib.av_log(nullptr, AV_LOG_ERROR, "from a thread without a task\n");
    });
    other.join();
    lib.av_log(&context, AV_LOG_INFO, "second part %d\n", 2);

    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[sample @ %08X]",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(&kSampleClass)));
    const std::vector<LogReport> logs = reports.Logs();
    ASSERT_EQ(logs.size(), 2u) << reports.LogText();
    EXPECT_EQ(logs[0].index, -1);
    EXPECT_EQ(logs[0].level, llError);
    EXPECT_EQ(logs[0].text, "from a thread without a task");
    EXPECT_EQ(logs[1].index, -1);
    EXPECT_EQ(logs[1].level, llInfo);
    EXPECT_EQ(logs[1].text, std::string(prefix) + "first part, second part 2");

    // Several lines at once, a CR LF end, and a line longer than 2 KiB.
    const std::string longText(5000, 'x');
    lib.av_log(nullptr, AV_LOG_INFO, "one\ntwo\r\n%s\n", longText.c_str());
    const std::vector<LogReport> more = reports.Logs();
    ASSERT_EQ(more.size(), 5u);
    EXPECT_EQ(more[2].text, "one");
    EXPECT_EQ(more[3].text, "two");
    EXPECT_EQ(more[4].text, longText);
}

TEST_F(TranscoderTest, LibraryMessagesAboveTheLogLevelAreDropped)
{
    lib.av_log(nullptr, AV_LOG_TRACE, "everything\n");
    lib.av_log(nullptr, AV_LOG_DEBUG, "debug\n");
    lib.av_log(nullptr, AV_LOG_INFO, "information\n");
    transcoder.SetLogLevel(llQuiet);
    lib.av_log(nullptr, AV_LOG_ERROR, "error\n");
    lib.av_log(nullptr, AV_LOG_QUIET, "always\n");

    const std::vector<LogReport> logs = reports.Logs();
    ASSERT_EQ(logs.size(), 2u) << reports.LogText();
    EXPECT_EQ(logs[0].text, "information");
    EXPECT_EQ(logs[1].text, "always");
    EXPECT_EQ(logs[1].level, llQuiet);
}

TEST_F(TranscoderTest, EveryComponentHearsEachLine)
{
    Reports secondReports;
    {
        TTranscoder second;
        ASSERT_TRUE(second.LoadCodecLibraries(CLIPMORA_COMMON_DIR, true));
        secondReports.Attach(second);
        lib.av_log(nullptr, AV_LOG_INFO, "to both\n");
    }
    lib.av_log(nullptr, AV_LOG_INFO, "to the first\n");
    EXPECT_EQ(secondReports.Logs().size(), 1u);
    ASSERT_EQ(reports.Logs().size(), 2u) << "the route stays while a component is left";
    EXPECT_EQ(reports.Logs()[1].text, "to the first");
}

}  // namespace
}  // namespace clipmora
