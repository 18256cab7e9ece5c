namespace corvane {
// Anchors the library until its first real source lands.
int shortcutsModuleAnchor = 0;
} // namespace corvane
