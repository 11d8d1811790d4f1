// A DLL that lies beside a test program, as a planted copy would: found only where the
// search order still looks in the program's folder.
extern "C" __declspec(dllexport) int TovrikPlanted() {
    return 1;
}
