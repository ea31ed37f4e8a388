// A video encoder running on a thread of its own, so that a run decodes,
// scales and muxes the next pictures while the encoder works on the earlier
// ones: the two halves of the pipeline share the cores instead of taking
// turns on the task's thread.
//
// The task's thread hands pictures in through a short bounded queue and
// takes the encoded packets back out; it alone touches the output file, the
// run's counters and the progress reports. The encoder thread alone calls
// the encoder between construction and destruction.
#pragma once

#include "engine/library_handles.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

namespace clipmora {

// How many threads of its own a codec gets when the run's pipeline already
// keeps a core busy beside it (an encoder on its own thread, a decoder in a
// segment's filter graph) and the user left the count to the program: the
// other cores. On two cores that is one: there, slice threads of the MPEG-4
// encoder cost a sixth more CPU time and gain no wall time, as the pipeline
// already fills both cores.
int PipelineCodecThreads();

class EncoderThread {
public:
    // Starts encoding with `encoder`, which must be open and must outlive
    // this object. At most `depth` pictures wait for the encoder.
    EncoderThread(AVCodecContext* encoder, std::size_t depth);
    // Stops the thread (pictures still queued are dropped) and joins it.
    ~EncoderThread();
    EncoderThread(const EncoderThread&) = delete;
    EncoderThread& operator=(const EncoderThread&) = delete;

    const AVCodecContext* Encoder() const { return encoder_; }

    // Task's thread. Queues a new reference to `picture` for encoding, or
    // with none the end of the stream, after which nothing more may be sent.
    // Waits while the queue is full. False when the encoder has failed.
    bool Send(const AVFrame* picture);

    // Task's thread. The next encoded packet in coding order, or null when
    // none is ready. With `toEnd` it waits for the next packet and returns
    // null only once the encoder has given out everything up to the end of
    // the stream, or has failed.
    PacketPtr Receive(bool toEnd);

    // True once the encoder refused a picture or a packet could not be made.
    bool Failed() const;

private:
    void run();
    // Encodes `picture` (null: the end) and queues what comes out. False on
    // a failure or once the encoder has given out its last packet.
    bool encode(const AVFrame* picture);
    void finish(bool failed);

    AVCodecContext* const encoder_;
    const std::size_t depth_;
    mutable std::mutex lock_;
    std::condition_variable changed_;  // any change of the fields below
    std::deque<FramePtr> pictures_;    // protected by lock_
    bool endQueued_ = false;           // protected by lock_; the end follows the pictures
    std::deque<PacketPtr> packets_;    // protected by lock_
    bool finished_ = false;            // protected by lock_; the encoder gave out its last packet
    bool failed_ = false;              // protected by lock_
    bool stop_ = false;                // protected by lock_; set by the destructor
    std::thread thread_;               // last: starts once the fields above exist
};

}  // namespace clipmora
