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

}  // namespace

void TCustomFFmpeg::setupRun(RunState& run)
{
    for (int f = 0; f < static_cast<int>(inputs_.size()); ++f) {
        InputFile& input = inputs_[f];
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

    std::size_t outputCount = 0;
    for (const OutputFile& file : outputs_) {
        if (file.streams.empty())
            throw FFMpegException("Output file does not contain any stream");
        outputCount += file.streams.size();
    }

    const std::vector<TStreamMap>& maps = options_.streamMaps;
    if (!maps.empty() && maps.size() != outputCount)
        throw FFMpegException("Number of stream maps must match number of output streams");
    auto validStream = [&](int file, int stream) {
        return file >= 0 && file < static_cast<int>(run.Files.size()) && stream >= 0 &&
               stream < run.Files[file].StreamCount;
    };
    for (const TStreamMap& map : maps) {
        if (!validStream(map.FileIndex, map.StreamIndex))
            throw FormattedException("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex);
        if (!validStream(map.SyncFileIndex, map.SyncStreamIndex))
            throw FormattedException("Could not find sync stream #%d.%d", map.SyncFileIndex,
                             map.SyncStreamIndex);
    }

    for (int f = 0; f < static_cast<int>(outputs_.size()); ++f) {
        OutputFile& file = outputs_[f];
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

    for (std::size_t j = 0; j < run.Outputs.size(); ++j) {
        TOutputStream& ost = run.Outputs[j];
        const AVMediaType wanted = ost.Encoder->codec_type;
        const OutputFile& file = outputs_[ost.FileIndex];
        int source = -1;
        if (!maps.empty()) {
            const TStreamMap& map = maps[j];
            source = run.Files[map.FileIndex].FirstStream + map.StreamIndex;
            if (typeOf(run.Inputs[source]) != wanted) {
                lib.av_dump_format(file.context.get(), ost.FileIndex, file.fileName.c_str(), 1);
                throw FormattedException("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                 map.FileIndex, map.StreamIndex, ost.FileIndex, ost.Index);
            }
            ost.SyncIndex = run.Files[map.SyncFileIndex].FirstStream + map.SyncStreamIndex;
        } else {
            if (options_.programId != 0) {
                for (int f = 0; f < static_cast<int>(inputs_.size()) && source < 0; ++f) {
                    const AVFormatContext* context = inputs_[f].context.get();
                    for (unsigned p = 0; p < context->nb_programs && source < 0; ++p) {
                        const AVProgram* program = context->programs[p];
                        if (program->id != options_.programId)
                            continue;
                        for (unsigned i = 0; i < program->nb_stream_indexes && source < 0; ++i) {
                            const int candidate =
                                run.Files[f].FirstStream +
                                static_cast<int>(program->stream_index[i]);
                            if (run.Inputs[candidate].Unclaimed &&
                                typeOf(run.Inputs[candidate]) == wanted)
                                source = candidate;
                        }
                    }
                }
            } else {
                for (int i = 0; i < static_cast<int>(run.Inputs.size()) && source < 0; ++i)
                    if (run.Inputs[i].Unclaimed && typeOf(run.Inputs[i]) == wanted)
                        source = i;
                // No unclaimed stream left: one input stream may feed several outputs.
                for (int i = static_cast<int>(run.Inputs.size()) - 1; i >= 0 && source < 0; --i)
                    if (typeOf(run.Inputs[i]) == wanted)
                        source = i;
            }
            if (source < 0) {
                lib.av_dump_format(file.context.get(), ost.FileIndex, file.fileName.c_str(), 1);
                throw FormattedException("Could not find input stream matching output stream #%d.%d",
                                 ost.FileIndex, ost.Index);
            }
            ost.SyncIndex = source;
        }
        ost.SourceIndex = source;
        run.Inputs[source].Unclaimed = false;
    }
}

}  // namespace clipmora
