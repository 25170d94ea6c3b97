#pragma once
// The life of a JPEG picture's bitmap, from the load to the photo's own decode, as one state
// and the table of its legal changes. The picture goes through Next for every change, so a
// change the table does not list is a fault that shows (an assertion), not a combination of
// flags that nobody meant.
//
//   from        event     to           when
//   Loaded      Ask       Waiting      a first draw hands the decode to the pool
//   Loaded      Start     Decoding     a first draw decodes inside itself
//   Waiting     Ask       Waiting      drawn again before it arrived (perhaps larger)
//   Waiting     StandIn   StandingIn   the camera's copy arrives first
//   Waiting     Succeed   Decoded      the first decode arrives
//   Waiting     Fail      Failed       ... and did not finish
//   Waiting     Cancel    Loaded       a draw without the pool decodes instead
//   StandingIn  Ask       StandingIn
//   StandingIn  Succeed   Decoded      the copy goes, the photo's decode stays
//   StandingIn  Fail      Failed       the copy goes too
//   StandingIn  Cancel    Loaded
//   Decoding    Succeed   Decoded
//   Decoding    Fail      Failed       failed, or stopped by the progress handler
//   Decoded     Ask       Enlarging    a larger draw hands a larger decode to the pool
//   Decoded     Start     Decoding     a larger draw decodes inside itself
//   Enlarging   Ask       Enlarging    drawn larger still
//   Enlarging   Succeed   Decoded      the larger bitmap replaces the kept one
//   Enlarging   Fail      Failed       the kept bitmap stays
//   Enlarging   Cancel    Decoded
//   any         Reset     Loaded       loaded anew, or given another picture's data
//
// Failed is final until Reset: a decode that did not finish is not tried again, and the
// picture keeps drawing the bitmap it has (the rows a first decode made, or a smaller one).
// What is data, not state: the scale the kept bitmap was decoded at, whether it was cut down
// to a draw, the scale a pending decode asked for, the pool's job handles and an error that
// waits for the next draw.

#include <array>
#include <cstdint>
#include <optional>

namespace sorowa::jpeg {

enum class PictureState : std::uint8_t {
    Loaded,     // nothing decoded, nothing asked of a pool (also before anything is loaded)
    Waiting,    // the first decode is asked of the pool; nothing to show yet
    StandingIn, // the camera's copy is shown while the first decode is awaited
    Decoding,   // a decode runs inside the draw
    Decoded,    // the photo's own decode is kept; a larger draw decodes again
    Enlarging,  // the same, and a larger decode is asked of the pool
    Failed,     // the last decode did not finish: no decode is tried again
};

enum class PictureEvent : std::uint8_t { Ask, StandIn, Start, Succeed, Fail, Cancel, Reset };

struct Transition {
    PictureState from;
    PictureEvent event;
    PictureState to;
};

inline constexpr auto kTransitions = [] {
    using enum PictureState;
    using enum PictureEvent;
    // One change a line, as in the table above.
    // clang-format off
    return std::array<Transition, 26>{{
        {Loaded, Ask, Waiting},
        {Loaded, Start, Decoding},
        {Waiting, Ask, Waiting},
        {Waiting, StandIn, StandingIn},
        {Waiting, Succeed, Decoded},
        {Waiting, Fail, Failed},
        {Waiting, Cancel, Loaded},
        {StandingIn, Ask, StandingIn},
        {StandingIn, Succeed, Decoded},
        {StandingIn, Fail, Failed},
        {StandingIn, Cancel, Loaded},
        {Decoding, Succeed, Decoded},
        {Decoding, Fail, Failed},
        {Decoded, Ask, Enlarging},
        {Decoded, Start, Decoding},
        {Enlarging, Ask, Enlarging},
        {Enlarging, Succeed, Decoded},
        {Enlarging, Fail, Failed},
        {Enlarging, Cancel, Decoded},
        {Loaded, Reset, Loaded},
        {Waiting, Reset, Loaded},
        {StandingIn, Reset, Loaded},
        {Decoding, Reset, Loaded},
        {Decoded, Reset, Loaded},
        {Enlarging, Reset, Loaded},
        {Failed, Reset, Loaded},
    }};
    // clang-format on
}();

// Where event leads from state; nullopt when the table has no such change.
constexpr std::optional<PictureState> Next(PictureState state, PictureEvent event) {
    for (const Transition& t : kTransitions)
        if (t.from == state && t.event == event) return t.to;
    return std::nullopt;
}

// A decode is asked of the pool and has not arrived.
constexpr bool AwaitsPool(PictureState state) {
    return state == PictureState::Waiting || state == PictureState::StandingIn ||
           state == PictureState::Enlarging;
}

// The first decode has run or arrived (its bitmap may be empty or partial).
constexpr bool HasDecoded(PictureState state) {
    return state == PictureState::Decoding || state == PictureState::Decoded ||
           state == PictureState::Enlarging || state == PictureState::Failed;
}

const char* NameOf(PictureState state);
const char* NameOf(PictureEvent event);

} // namespace sorowa::jpeg
