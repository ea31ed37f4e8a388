// TTimelineStrip: a row of small pictures with a thin band of the sound's
// loudness under it, drawn along a timeline. The owner says which span of
// time the strip shows and where that span's ends lie in the strip's own x
// coordinates (the timeline's thumb travel), asks for the strip's slots (the
// span of time each stands for and the time at its middle), and hands
// pictures and levels in as they arrive. A slot shows the picture taken
// latest at or before its middle, so pictures of an earlier view stand in
// until the view's own arrive, and the level measured over exactly its span:
// a level of another view's slot is never drawn.
//
// Threads: GUI thread only.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace clipmora {

class TTimelineStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPictureHeight = 36;
    static constexpr int kLoudnessHeight = 8;
    static constexpr int kGap = 2;
    // The strip's whole height: pictures, a gap, the loudness band.
    static constexpr int kHeight = kPictureHeight + kGap + kLoudnessHeight;

    explicit TTimelineStrip(QWidget* parent = nullptr);

    // One slot of the current view, in milliseconds: the span [firstMs,
    // endMs) its width stands for and the time at its middle.
    struct Slot {
        int64_t firstMs = 0;
        int64_t endMs = 0;
        int64_t middleMs = 0;
        bool operator==(const Slot&) const = default;
    };

    // The strip shows `firstMs`..`lastMs`, from x `left` to x `right`.
    void SetView(int64_t firstMs, int64_t lastMs, int left, int right);
    // The slots of the current view, left to right.
    std::vector<Slot> Slots() const;

    void AddPicture(int64_t timeMs, const QImage& picture);
    // The loudness of the span [firstMs, endMs): its largest sample and the
    // RMS level of its loudest moment (full scale = 1).
    void AddLoudness(int64_t firstMs, int64_t endMs, float peak, float rms);
    // Forgets every picture and level (a new file).
    void Clear();

    // The pictures held, by the time they were taken for.
    const std::map<int64_t, QImage>& Pictures() const { return pictures_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The slots' width: a picture of the usual wide aspect.
    int slotWidth() const;
    int64_t timeAt(int x) const;

    std::map<int64_t, QImage> pictures_;
    struct Level {
        float peak;
        float rms;
    };
    // By span (first, end).
    std::map<std::pair<int64_t, int64_t>, Level> levels_;
    int64_t firstMs_ = 0;
    int64_t lastMs_ = 0;
    int left_ = 0;
    int right_ = 0;
};

}  // namespace clipmora
