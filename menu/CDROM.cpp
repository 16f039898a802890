// The disc's start-up menu. It takes no arguments: everything it needs is
// on the disc, relative to the current folder.
#include "Unit1.h"

int main() {
    try {
        RegisterFormClasses();
        Application->Initialize();
        Application->SetTitle("Kelvora1999年4月");
        Application->CreateForm(Form1);
        // The program's main icon, as the form shows it on its caption and
        // the task bar.
        Form1->SetIcon(LoadIconA(HInstance, "MAINICON"));
        Application->Run();
    } catch (...) {
        Application->HandleException(Application);
    }
    // Closing down destroys the form, which runs FormDestroy.
    Application->DestroyComponents();
    return 0;
}
