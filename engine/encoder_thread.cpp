// The video encoder's own thread: pictures in, packets out, both through
// queues guarded by one mutex and signalled by one condition variable.
#include "engine/encoder_thread.h"

namespace clipmora {

int PipelineCodecThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 2 ? static_cast<int>(cores) - 1 : 1;
}

EncoderThread::EncoderThread(AVCodecContext* encoder, std::size_t depth)
    : encoder_(encoder), depth_(depth > 0 ? depth : 1), thread_([this] { run(); })
{
}

EncoderThread::~EncoderThread()
{
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool EncoderThread::Send(const AVFrame* picture)
{
#ifdef CLIPMORA_PLANT_RACES
    // Race check build only: the task's thread reads the codec context that
    // the encoder thread writes below, with no hand-over between them.
    [[maybe_unused]] const AVMediaType plantedType = encoder_->codec_type;
#endif
    FramePtr reference;
    if (picture) {
        reference.reset(lib.av_frame_alloc());
        if (!reference || lib.av_frame_ref(reference.get(), picture) < 0)
            return false;
    }
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return failed_ || pictures_.size() < depth_; });
    if (failed_)
        return false;
    if (reference)
        pictures_.push_back(std::move(reference));
    else
        endQueued_ = true;
    guard.unlock();
    changed_.notify_all();
    return true;
}

PacketPtr EncoderThread::Receive(bool toEnd)
{
    std::unique_lock guard(lock_);
    if (toEnd)
        changed_.wait(guard, [this] { return !packets_.empty() || finished_ || failed_; });
    if (packets_.empty())
        return nullptr;
    PacketPtr packet = std::move(packets_.front());
    packets_.pop_front();
    return packet;
}

bool EncoderThread::Failed() const
{
    std::lock_guard guard(lock_);
    return failed_;
}

void EncoderThread::run()
{
    for (;;) {
        FramePtr picture;
        {
            std::unique_lock guard(lock_);
            changed_.wait(guard, [this] { return stop_ || !pictures_.empty() || endQueued_; });
            if (stop_)
                return;
            if (!pictures_.empty()) {
                picture = std::move(pictures_.front());
                pictures_.pop_front();
            } else {
                endQueued_ = false;
            }
        }
        changed_.notify_all();  // room in the queue
        if (!encode(picture.get()))
            return;
    }
}

bool EncoderThread::encode(const AVFrame* picture)
{
#ifdef CLIPMORA_PLANT_RACES
    // Race check build only: the encoder thread writes the codec context
    // outside the hand-over while the task's thread reads it (Send).
    const AVMediaType plantedType = encoder_->codec_type;
    encoder_->codec_type = plantedType;
#endif
    const int sent = lib.avcodec_send_frame(encoder_, picture);
    if (sent < 0 && !(sent == AVERROR_EOF && !picture)) {
        finish(true);
        return false;
    }
    for (;;) {
        PacketPtr packet(lib.av_packet_alloc());
        if (!packet) {
            finish(true);
            return false;
        }
        const int received = lib.avcodec_receive_packet(encoder_, packet.get());
        if (received == AVERROR(EAGAIN))
            return true;
        if (received == AVERROR_EOF) {
            finish(false);
            return false;
        }
        if (received < 0) {
            finish(true);
            return false;
        }
        {
            std::lock_guard guard(lock_);
            packets_.push_back(std::move(packet));
        }
        changed_.notify_all();
    }
}

void EncoderThread::finish(bool failed)
{
    {
        std::lock_guard guard(lock_);
        (failed ? failed_ : finished_) = true;
    }
    changed_.notify_all();
}

}  // namespace clipmora
