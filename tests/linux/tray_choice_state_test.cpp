#include "linux/tray_choice_state.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using State = TrayChoiceState;
using Shown = TrayChoiceState::Shown;

enum class Event { Start, ChoiceTimeUp, ItemShown, ItemDropped, XIconAsked, XIconDocked, XDisplayLost };

struct Step {
  Event event;
  bool value;  // for the events that carry one
  State::Effects effects;
  Shown shown;
};

struct Story {
  const char* name;
  bool hasItem, hasXDisplay;
  std::vector<Step> steps;
  bool itemOverXTray = false;
  bool xTrayOverItem = false;
};

State::Effects Send(State& state, const Step& step) {
  switch (step.event) {
    case Event::Start: return state.Start(step.value);
    case Event::ChoiceTimeUp: return state.ChoiceTimeUp();
    case Event::ItemShown: return state.ItemShown(step.value);
    case Event::ItemDropped: return state.ItemDropped();
    case Event::XIconAsked: return state.XIconAsked(step.value);
    case Event::XIconDocked: return state.XIconDocked(step.value);
    case Event::XDisplayLost: return state.XDisplayLost();
  }
  return 0;
}

// How desktops come and go, as the trays report them, and what each report
// makes the trays do.
TEST(TrayChoiceState, FirstHostTakesTheIconOthersStandByLossesAreTold) {
  const std::vector<Story> stories = {
      {"a watcher answers before any X tray is asked",
       true,
       true,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ItemShown, true, State::UNDOCK_X_ICON, Shown::Item},
        // The panel restarts: X trays may take it meanwhile.
        {Event::ItemShown, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, false, 0, Shown::Nowhere},
        {Event::ItemShown, true, State::UNDOCK_X_ICON, Shown::Item}}},
      {"no watcher: the X tray, and the item when the X tray goes",
       true,
       true,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ItemShown, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, false, State::SAY_NO_HOST, Shown::Nowhere},
        {Event::XIconDocked, true, State::REMOVE_ITEM, Shown::XTray},
        {Event::ItemShown, true, State::REMOVE_ITEM, Shown::XTray},  // one icon is enough
        {Event::XIconDocked, false, State::ADD_ITEM, Shown::Nowhere},
        {Event::XIconDocked, true, State::REMOVE_ITEM, Shown::XTray},
        {Event::XDisplayLost, false, State::ICON_LOST, Shown::XTray}}},
      {"a silent bus: X after the choice's wait",
       true,
       true,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ChoiceTimeUp, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, true, State::REMOVE_ITEM, Shown::XTray},
        {Event::ChoiceTimeUp, false, 0, Shown::XTray}}},
      {"the display goes while the item shows: only the menu goes with it",
       true,
       true,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ItemShown, true, State::UNDOCK_X_ICON, Shown::Item},
        {Event::XDisplayLost, false, State::DROP_X_DISPLAY, Shown::Item},
        {Event::ItemShown, false, 0, Shown::Nowhere},  // shown once: a restart is not worth a word
        {Event::ItemShown, true, 0, Shown::Item}}},
      {"the bus goes: the X tray takes over, and the display is all there is",
       true,
       true,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ItemShown, true, State::UNDOCK_X_ICON, Shown::Item},
        {Event::ItemDropped, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, true, 0, Shown::XTray},
        {Event::XIconDocked, false, 0, Shown::Nowhere},
        {Event::XDisplayLost, false, State::ICON_LOST, Shown::Nowhere}}},
      {"no display and no watcher: said once",
       true,
       false,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ItemShown, false, State::SAY_NO_HOST, Shown::Nowhere},
        {Event::ItemShown, false, 0, Shown::Nowhere},
        {Event::ChoiceTimeUp, false, 0, Shown::Nowhere}}},
      {"no bus: the X tray from the start",
       false,
       true,
       {{Event::Start, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, true, 0, Shown::XTray},
        {Event::XIconDocked, false, 0, Shown::Nowhere}}},
      {"Cinnamon: its watcher, a moment after its X tray, takes the icon from it",
       true,
       true,
       {{Event::Start, true, 0, Shown::Nowhere},
        {Event::ItemShown, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, true, 0, Shown::XTray},  // the item stays on offer
        {Event::ItemShown, true, State::UNDOCK_X_ICON, Shown::Item},
        {Event::ItemShown, false, State::DOCK_X_ICON, Shown::Nowhere}},
       true},
      {"Xfce: its X tray is asked first, and waited for when its panel restarts",
       true,
       true,
       {{Event::Start, true, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, true, State::REMOVE_ITEM, Shown::XTray},
        {Event::XIconDocked, false, 0, Shown::Nowhere},
        {Event::XIconDocked, true, State::REMOVE_ITEM, Shown::XTray}},
       false,
       true},
      {"Xfce with neither tray yet: the item is offered too, and the first host keeps the icon",
       true,
       true,
       {{Event::Start, true, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, false, State::ADD_ITEM, Shown::Nowhere},
        {Event::ItemShown, false, State::SAY_NO_HOST, Shown::Nowhere},
        {Event::ItemShown, false, 0, Shown::Nowhere},
        {Event::ItemShown, true, State::UNDOCK_X_ICON, Shown::Item},
        {Event::ItemShown, false, State::DOCK_X_ICON, Shown::Nowhere},
        {Event::XIconAsked, true, State::REMOVE_ITEM, Shown::XTray},
        {Event::XIconDocked, false, 0, Shown::Nowhere}},
       false,
       true},
      {"Xfce without a display: the item as anywhere",
       true,
       false,
       {{Event::Start, true, 0, Shown::Nowhere}, {Event::ItemShown, true, 0, Shown::Item}},
       false,
       true},
  };
  for (const Story& story : stories) {
    SCOPED_TRACE(story.name);
    State state(story.hasItem, story.hasXDisplay, story.itemOverXTray, story.xTrayOverItem);
    for (std::size_t i = 0; i < story.steps.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "step " << i);
      const Step& step = story.steps[i];
      EXPECT_EQ(Send(state, step), step.effects);
      EXPECT_EQ(state.ShownIn(), step.shown);
    }
  }
}

TEST(TrayChoiceState, OnlyAnIconNeverShownIsWorthTellingAbout) {
  State state(true, true);
  state.Start(true);
  EXPECT_TRUE(state.NeverShown());
  state.ItemShown(true);
  state.ItemShown(false);
  EXPECT_FALSE(state.NeverShown());
}

}  // namespace
