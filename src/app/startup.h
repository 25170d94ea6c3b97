#pragma once
// Program start-up: the application object, the picture formats, the main window and the
// dialogs that live until the program ends.

#include "platform/directories.h"

#include <memory>

namespace sorowa {

class TForm_Main;
class TForm_Grp;
class TForm_Henkou;
class TForm_About;
class TForm_Option;

// Registers the picture classes that register themselves at program start.
void RegisterPictureClasses();
void UnregisterPictureClasses();

struct TProgramForms {
    std::unique_ptr<TForm_Main> mainForm;
    TForm_Grp* initialThumbnail = nullptr; // owned by the main window's frame
    TForm_Henkou* renameDialog = nullptr;  // owned by the main window
    TForm_About* aboutBox = nullptr;       // owned by the main window
    TForm_Option* optionDialog = nullptr;  // owned by the main window
};

// Creates the forms in start-up order (the application object must exist), for a program
// file and plug-in folders at places.
TProgramForms CreateForms(const platform::ProgramPlaces& places);

// Shows the main window once the message loop runs, as the first thing it does. Shown
// before the loop, whatever its first show closes (the initial thumbnail window) would be
// queued for destruction outside any loop, and Qt then never destroys it while the loop runs.
void ShowMainFormWhenRunning(TForm_Main& mainForm);

// The whole program: returns the exit code of the message loop.
int RunSorowa(int argc, char** argv);

} // namespace sorowa
