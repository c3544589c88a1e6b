#pragma once
// Views found by a number, as the window's interface descriptions mark them: a widget
// carries its tag in the dynamic property "tag" (an integer set in the .ui file, e.g.
// <property name="tag" stdset="0"><number>556</number></property>). viewWithTag()
// searches the view itself and then all its descendants, in creation order.
//
// Tags of the song cell ("SongCell"):
//   554 the highlight view (shown only on the current song's row)
//   555 the title field
//   556 the row's play/pause button
//   557 the time field (length, or time left on the current song's row)
//
// Main thread only.

#include <QWidget>

namespace sondrel {

inline constexpr const char* kTagProperty = "tag";

inline constexpr int kSongCellHighlightTag = 554;
inline constexpr int kSongCellTitleTag = 555;
inline constexpr int kSongCellButtonTag = 556;
inline constexpr int kSongCellTimeTag = 557;

// The widget's tag, or 0 when it has none.
int viewTag(const QWidget* view);

// The first widget with `tag` in `root` or below it, or nullptr.
QWidget* viewWithTag(QWidget* root, int tag);

template <typename T> T* viewWithTag(QWidget* root, int tag) {
    return qobject_cast<T*>(viewWithTag(root, tag));
}

} // namespace sondrel
