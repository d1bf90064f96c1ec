#include "launcher/launcher.h"

int wmain(int argc, wchar_t** argv)
{
    return LauncherMain(argc, argv);
}
