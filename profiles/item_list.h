// A drop-down list reduced to its data: the entries in order and the
// selected index. The profile code fills and reads these; the window mirrors
// them into its widgets, the command-line front end uses them as they are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace clipmora {

class TItemList {
public:
    // Removes every entry; nothing is selected afterwards.
    void Clear()
    {
        items_.clear();
        selected_ = -1;
    }

    // Appends `text` and returns its index. The selection is not touched.
    int Add(std::string_view text)
    {
        items_.emplace_back(text);
        return Count() - 1;
    }

    int Count() const { return static_cast<int>(items_.size()); }
    const std::vector<std::string>& Items() const { return items_; }

    // The selected index, -1 when nothing is selected.
    int Selected() const { return selected_; }

    // Selects entry `index`; an index outside the entries selects nothing.
    void Select(int index) { selected_ = index >= 0 && index < Count() ? index : -1; }

    // Selects the last entry whose text equals `text` and returns true. When
    // no entry equals it the selection stays as it was and false is returned.
    bool SelectText(std::string_view text)
    {
        for (int index = Count() - 1; index >= 0; --index) {
            if (items_[static_cast<std::size_t>(index)] == text) {
                selected_ = index;
                return true;
            }
        }
        return false;
    }

    // The selected entry's text; empty when nothing is selected.
    std::string SelectedText() const
    {
        return selected_ >= 0 ? items_[static_cast<std::size_t>(selected_)] : std::string();
    }

    bool operator==(const TItemList&) const = default;

private:
    std::vector<std::string> items_;
    int selected_ = -1;
};

}  // namespace clipmora
