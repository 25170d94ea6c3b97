#include "picture/jpeg/jpeg_state.h"

namespace sorowa::jpeg {
namespace {

// Each (state, event) pair at most once, so the table says one thing for each.
constexpr bool NoPairTwice() {
    for (std::size_t i = 0; i < kTransitions.size(); ++i)
        for (std::size_t j = i + 1; j < kTransitions.size(); ++j)
            if (kTransitions[i].from == kTransitions[j].from &&
                kTransitions[i].event == kTransitions[j].event)
                return false;
    return true;
}
static_assert(NoPairTwice());

constexpr auto kStates = {PictureState::Loaded,   PictureState::Waiting, PictureState::StandingIn,
                          PictureState::Decoding, PictureState::Decoded, PictureState::Enlarging,
                          PictureState::Failed};

// New data can always be loaded.
constexpr bool ResetFromEvery() {
    for (PictureState state : kStates)
        if (Next(state, PictureEvent::Reset) != PictureState::Loaded) return false;
    return true;
}
static_assert(ResetFromEvery());

// Only a draw (Ask, Start) leaves Loaded, only Reset leaves Failed, and whatever awaits the
// pool can be cancelled.
static_assert(!Next(PictureState::Loaded, PictureEvent::Succeed));
static_assert(!Next(PictureState::Failed, PictureEvent::Ask));
static_assert(!Next(PictureState::Failed, PictureEvent::Start));
static_assert(Next(PictureState::Waiting, PictureEvent::Cancel) &&
              Next(PictureState::StandingIn, PictureEvent::Cancel) &&
              Next(PictureState::Enlarging, PictureEvent::Cancel));

} // namespace

const char* NameOf(PictureState state) {
    switch (state) {
    case PictureState::Loaded:
        return "Loaded";
    case PictureState::Waiting:
        return "Waiting";
    case PictureState::StandingIn:
        return "StandingIn";
    case PictureState::Decoding:
        return "Decoding";
    case PictureState::Decoded:
        return "Decoded";
    case PictureState::Enlarging:
        return "Enlarging";
    case PictureState::Failed:
        return "Failed";
    }
    return "?";
}

const char* NameOf(PictureEvent event) {
    switch (event) {
    case PictureEvent::Ask:
        return "Ask";
    case PictureEvent::StandIn:
        return "StandIn";
    case PictureEvent::Start:
        return "Start";
    case PictureEvent::Succeed:
        return "Succeed";
    case PictureEvent::Fail:
        return "Fail";
    case PictureEvent::Cancel:
        return "Cancel";
    case PictureEvent::Reset:
        return "Reset";
    }
    return "?";
}

} // namespace sorowa::jpeg
