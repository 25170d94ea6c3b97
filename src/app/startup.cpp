#include "app/startup.h"

#include "app/main_form.h"
#include "picture/gif/gif_image.h"
#include "picture/jpeg/jpeg_image.h"
#include "platform/ui/error_display.h"
#include "platform/fonts.h"
#include "platform/ui/help_viewer.h"
#include "platform/ui/message_box.h"
#include "platform/program_icon.h"
#include "rename/ui/rename_dialog.h"
#include "settings/about_box.h"
#include "settings/option_dialog.h"
#include "spi/spi_bitmap.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_window.h"

#include <QTimer>

namespace sorowa {

void RegisterPictureClasses() {
    RegisterJpegPicture();
    RegisterGifPicture();
    RegisterSPIBitmap();
}

void UnregisterPictureClasses() {
    UnregisterSPIBitmap();
    UnregisterGifPicture();
    UnregisterJpegPicture();
}

TProgramForms CreateForms(const platform::ProgramPlaces& places) {
    TProgramForms forms;
    forms.mainForm = std::make_unique<TForm_Main>(places);
    forms.initialThumbnail = new TForm_Grp(forms.mainForm->MdiFrame());
    forms.renameDialog = new TForm_Henkou(forms.mainForm.get());
    forms.mainForm->Form_Henkou = forms.renameDialog;
    forms.aboutBox = new TForm_About(forms.mainForm.get());
    forms.mainForm->Form_About = forms.aboutBox;
    forms.optionDialog = new TForm_Option(places.programFile, forms.mainForm.get());
    forms.optionDialog->SetFolderMaskSource(
        [main = forms.mainForm.get()] { return main->PluginFileMask(); });
    forms.mainForm->Form_Option = forms.optionDialog;
    return forms;
}

void ShowMainFormWhenRunning(TForm_Main& mainForm) {
    QTimer::singleShot(0, &mainForm, [form = &mainForm] { form->show(); });
}

int RunSorowa(int argc, char** argv) {
    platform::TApplication application(argc, argv);
    platform::SetApplicationTitle(QStringLiteral("Sorowa"));
    QApplication::setApplicationName(QStringLiteral("Sorowa"));
    QApplication::setWindowIcon(platform::ProgramIcon());
    // Replaced by the program file's own help file when a help command runs.
    platform::SetApplicationHelpFile(QStringLiteral("sorowa.HLP"));
    platform::InstallFontSubstitutions();
    QApplication::setFont(platform::DesignFont());
    RegisterPictureClasses();
    TProgramForms forms = CreateForms(platform::ProgramPlaces::OfThisProgram());
    ShowMainFormWhenRunning(*forms.mainForm);
    const int result = QApplication::exec();
    forms = {};
    UnregisterPictureClasses();
    return result;
}

} // namespace sorowa
