// The items of a batch, as the plan (batchplan.h) finds them, the runner (batchrunner.h) orders
// them and the conversion (batch.h) works on them: the one vocabulary the three share.
#pragma once

#include "catalogue.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quillarn {

// What the listing of a target's folder showed of the target.
enum class TargetState { Unknown, Absent, Present };

// One record of a batch, or one path that failed before any record could be found in it.
struct BatchItem {
    std::filesystem::path source;
    std::filesystem::path target; // empty when failure is set
    Reason failure;               // set when the item fails without being converted
    TargetState targetState = TargetState::Unknown;
};

// Items of a batch, handed out in order, one at a time, so that a run need not hold them all.
class BatchItems {
public:
    virtual ~BatchItems() = default;
    // Sets item to the next item and returns true; false when there are no more.
    virtual bool next(BatchItem &item) = 0;
    // Returns how many items are left, when that is known without looking for them; nothing for a
    // walk of folders, which would have to go on to count them.
    virtual std::optional<std::size_t> left() const { return std::nullopt; }
};

} // namespace quillarn
