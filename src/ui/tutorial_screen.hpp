#pragma once
// The tutorial: five pages with Back and Next, the tutorial song following the page. Main thread,
// in a GUI frame.
#include <vector>

struct ScreenContext;

// One page of the tutorial.
struct TutorialPage {
    const char* title;
    float color[4];
    std::vector<const char*> paragraphs;
};

// The page at `index` (0..4); an empty page outside that range.
const TutorialPage& tutorialPage(int index);

// The tutorial's page, its buttons, and the band under the text where the circles are shown
// (context.render->circleArea, set here every frame the tutorial is drawn).
void drawTutorialScreen(ScreenContext& context);
