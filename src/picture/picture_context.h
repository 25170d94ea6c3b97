#pragma once
// What the program showing pictures gives each of them: the display they are drawn for, the
// budget their decoded bytes come from, the pool their large decodes go to and the render
// pool their animations prepare frames on. The owner of the pool and the render pool (the
// window that holds the thumbnails) outlives every picture it gives them to.

#include "platform/display.h"
#include "platform/memory_budget.h"

namespace sorowa {

class TDecodePool;
namespace gif {
class TRenderer;
}

struct TPictureContext {
    platform::TDisplay display{};
    // nullptr: the process's budget.
    platform::TDecodedBytesBudget* budget = nullptr;
    // nullptr: pictures decode in their draws.
    TDecodePool* pool = nullptr;
    // nullptr: an animation prepares each frame's bitmap when the frame is due.
    gif::TRenderer* renderer = nullptr;

    platform::TDecodedBytesBudget& Budget() const {
        return budget != nullptr ? *budget : platform::TDecodedBytesBudget::Process();
    }
};

} // namespace sorowa
