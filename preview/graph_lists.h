// TFilterList and TPinList: the elements of a playback graph and the pads of
// one element, taken once when the list is made, for callers that walk a
// built graph. Each list holds a reference to what it lists.
//
// Threads: the GUI thread, like the graph.
#pragma once

#include "preview/filter_graph.h"

#include <vector>

namespace clipmora {

template <typename T>
class TGraphObjectList {
public:
    size_t Count() const { return items_.size(); }
    // Borrowed; valid while the list holds it. Throws std::out_of_range.
    T* Items(size_t index) const { return items_.at(index).get(); }
    // Drops an item from the list (not from the graph).
    void Delete(size_t index)
    {
        items_.at(index);
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    }

protected:
    std::vector<GstRef<T>> items_;
};

class TFilterList : public TGraphObjectList<GstElement> {
public:
    // Every element of the graph, those inside its bins included, in the
    // graph's order; empty when the graph is inactive.
    explicit TFilterList(const TFilterGraph& graph)
    {
        if (GstElement* pipeline = graph.Pipeline())
            items_ = CollectItems<GstElement>(gst_bin_iterate_recurse(GST_BIN(pipeline)));
    }
};

class TPinList : public TGraphObjectList<GstPad> {
public:
    explicit TPinList(GstElement* filter)
    {
        items_ = CollectItems<GstPad>(gst_element_iterate_pads(filter));
    }
    // Whether the pin is linked to a peer.
    bool Connected(size_t index) const { return gst_pad_is_linked(Items(index)); }
};

}  // namespace clipmora
