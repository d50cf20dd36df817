#pragma once
// What a dialog's control group made of one message, as its per-message handler says.

namespace zelvo {

enum class GroupResult {
  kNotMine,  // not for this group: the dialog procedure looks further
  kHandled,  // handled; what the group shows stayed as it was
  kChanged,  // handled, and what the group shows may have changed
};

}  // namespace zelvo
