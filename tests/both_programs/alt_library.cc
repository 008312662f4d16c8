// Another library under the host library's names; answers 4242.
extern "C" int ZolDebugModeSet(int) { return 4242; }
