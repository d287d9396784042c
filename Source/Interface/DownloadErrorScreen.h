// The screen that ends a download with errors: the header picture and, over the right
// panel, the user message or the reason the log gives, above the Exit button. Its click
// makes the controller post the log report and end the program.
#pragma once

#include <memory>
#include <string>

namespace vesk {

class Texture;
class WindowDrag;

class DownloadErrorScreen {
public:
    // Draws the screen over the left panel; false when Exit was clicked (or the UI is not
    // initialised).
    bool Draw(const std::shared_ptr<Texture>& header, WindowDrag& drag);

private:
    // Chosen at the first frame: the download has ended, and the log only grows by what
    // the report adds.
    const std::string& Text();

    bool textChosen_ = false;
    std::string text_;
};

}  // namespace vesk
