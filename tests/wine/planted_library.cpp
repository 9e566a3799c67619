// Stands in for a DLL left beside the program, as by a zip unpacked into
// Downloads. Its one entry point only shows that it was loaded.

extern "C" __declspec(dllexport) int trayvoPlanted()
{
    return 1;
}
