// The long layout's items as Praat writes them: a heading, then each value
// on a line of its own, indented: "intervals [1]:", "xmin = 0.5 ",
// "xmax = 1 ", "text = "a" " (or "points [1]:", "number = 0.5 ",
// "mark = "a" "). These make up nearly all of a file, so they have a path of
// their own, with no line split or trim: each line is matched straight in the
// text and its number scanned in place.
#pragma once

#include "model/textgrid_view.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

// Reads the lines at the cursor that have exactly those shapes into `tier`,
// whose last item is the one being read: a heading adds an item, a value
// line sets the last item's value. Stops, leaving it untaken, at the first
// line of any other shape (another key, a text over several lines or with
// doubled quotes, a blank outside ASCII, the next tier), which the reader's
// full rules then take and would have read alike, and at the line that
// begins at `stop` (nullptr: none). Returns the tier's last item, and in
// `slot` how many values of it were read. Writes nothing into the text.
ItemView* read_items(LineCursor& lines, TierView& tier, const char* stop, int& slot);

}  // namespace textgrid
