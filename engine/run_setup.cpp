// The first stage of a run: the run records, and for every output stream the
// input stream that feeds it (stream maps, program selection, or the first
// unclaimed stream of the same kind).
#include "engine/ffmpeg_exception.h"
#include "engine/run_state.h"

#include <cstdarg>
#include <cstdio>

namespace clipmora {
namespace {

AVMediaType typeOf(const TInputStream& ist) { return ist.Stream->codecpar->codec_type; }

// One record per input file and per stream of it, in file order.
void addInputRecords(RunState& run, const std::vector<InputFile>& inputs)
{
    for (int f = 0; f < static_cast<int>(inputs.size()); ++f) {
        const InputFile& input = inputs[f];
        TInputFileState state;
        state.FirstStream = static_cast<int>(run.Inputs.size());
        state.StreamCount = static_cast<int>(input.context->nb_streams);
        run.Files.push_back(state);
        for (int s = 0; s < state.StreamCount; ++s) {
            TInputStream ist;
            ist.FileIndex = f;
            ist.StreamIndex = s;
            ist.Stream = input.context->streams[s];
            ist.Decoder = input.decoders[s].get();
            if (input.rateEmulation)
                ist.RateEmulationStart = lib.av_gettime();
            run.Inputs.push_back(std::move(ist));
        }
    }
}

// One record per output stream, in file order. Throws FFMpegException for
// a file without streams.
void addOutputRecords(RunState& run, const std::vector<OutputFile>& outputs)
{
    for (const OutputFile& file : outputs)
        if (file.streams.empty())
            throw FFMpegException("Output file does not contain any stream");
    for (int f = 0; f < static_cast<int>(outputs.size()); ++f) {
        const OutputFile& file = outputs[f];
        for (int k = 0; k < static_cast<int>(file.streams.size()); ++k) {
            TOutputStream ost;
            ost.FileIndex = f;
            ost.Index = k;
            ost.Stream = file.streams[k].stream;
            ost.Encoder = file.streams[k].codec.get();
            ost.StreamCopy = file.streams[k].streamCopy;
            ost.Quality = file.streams[k].quality;
            run.Outputs.push_back(std::move(ost));
        }
    }
}

// Every stream map names an existing stream and sync stream, one map per
// output stream. Throws FFMpegException.
void checkStreamMaps(const RunState& run, const std::vector<TStreamMap>& maps)
{
    if (!maps.empty() && maps.size() != run.Outputs.size())
        throw FFMpegException("Number of stream maps must match number of output streams");
    auto validStream = [&](int file, int stream) {
        return file >= 0 && file < static_cast<int>(run.Files.size()) && stream >= 0 &&
               stream < run.Files[file].StreamCount;
    };
    for (const TStreamMap& map : maps) {
        if (!validStream(map.FileIndex, map.StreamIndex))
            throw FormattedException("Could not find input stream #%d.%d", map.FileIndex,
                                     map.StreamIndex);
        if (!validStream(map.SyncFileIndex, map.SyncStreamIndex))
            throw FormattedException("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                     map.SyncStreamIndex);
    }
}

// The first unclaimed stream of `wanted` kind in `program` of input file
// `file`, or -1.
int programStream(const RunState& run, int file, const AVProgram& program, AVMediaType wanted)
{
    for (unsigned i = 0; i < program.nb_stream_indexes; ++i) {
        const int candidate = run.Files[file].FirstStream + static_cast<int>(program.stream_index[i]);
        if (run.Inputs[candidate].Unclaimed && typeOf(run.Inputs[candidate]) == wanted)
            return candidate;
    }
    return -1;
}

// The first unclaimed stream of `wanted` kind in the program `programId`
// of any input, or -1.
int programSource(const RunState& run, const std::vector<InputFile>& inputs, int programId,
                  AVMediaType wanted)
{
    for (int f = 0; f < static_cast<int>(inputs.size()); ++f) {
        const AVFormatContext* context = inputs[f].context.get();
        for (unsigned p = 0; p < context->nb_programs; ++p) {
            const int source = context->programs[p]->id == programId
                                   ? programStream(run, f, *context->programs[p], wanted)
                                   : -1;
            if (source >= 0)
                return source;
        }
    }
    return -1;
}

// The first unclaimed stream of `wanted` kind; with none left, the last
// stream of that kind, since one input stream may feed several outputs.
// -1 when the inputs have no such stream.
int firstFreeSource(const RunState& run, AVMediaType wanted)
{
    for (int i = 0; i < static_cast<int>(run.Inputs.size()); ++i)
        if (run.Inputs[i].Unclaimed && typeOf(run.Inputs[i]) == wanted)
            return i;
    for (int i = static_cast<int>(run.Inputs.size()) - 1; i >= 0; --i)
        if (typeOf(run.Inputs[i]) == wanted)
            return i;
    return -1;
}

}  // namespace

RunState MapStreams(const std::vector<InputFile>& inputs, const std::vector<OutputFile>& outputs,
                    const OptionState& options)
{
    RunState run;
    addInputRecords(run, inputs);
    addOutputRecords(run, outputs);
    const std::vector<TStreamMap>& maps = options.streamMaps;
    checkStreamMaps(run, maps);

    for (std::size_t j = 0; j < run.Outputs.size(); ++j) {
        TOutputStream& ost = run.Outputs[j];
        const AVMediaType wanted = ost.Encoder->codec_type;
        const OutputFile& file = outputs[ost.FileIndex];
        // The output's layout goes to the log before the failure that names it.
        auto dumpOutput = [&] {
            lib.av_dump_format(file.context.get(), ost.FileIndex, file.fileName.c_str(), 1);
        };
        int source = -1;
        if (!maps.empty()) {
            const TStreamMap& map = maps[j];
            source = run.Files[map.FileIndex].FirstStream + map.StreamIndex;
            if (typeOf(run.Inputs[source]) != wanted) {
                dumpOutput();
                throw FormattedException("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                         map.FileIndex, map.StreamIndex, ost.FileIndex, ost.Index);
            }
            ost.SyncIndex = run.Files[map.SyncFileIndex].FirstStream + map.SyncStreamIndex;
        } else {
            source = options.programId != 0
                         ? programSource(run, inputs, options.programId, wanted)
                         : firstFreeSource(run, wanted);
            if (source < 0) {
                dumpOutput();
                throw FormattedException("Could not find input stream matching output stream #%d.%d",
                                         ost.FileIndex, ost.Index);
            }
            ost.SyncIndex = source;
        }
        ost.SourceIndex = source;
        run.Inputs[source].Unclaimed = false;
    }
    return run;
}

}  // namespace clipmora
