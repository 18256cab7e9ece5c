namespace corvane {
// Anchors the library until its first real source lands.
int locationModuleAnchor = 0;
} // namespace corvane
