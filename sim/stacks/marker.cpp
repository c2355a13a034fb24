// A marker library: the system only checks that it can be loaded.
extern "C" int tavlin_marker_library() {
    return 1;
}
