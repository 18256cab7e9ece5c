namespace corvane {
// Anchors the library until its first real source lands.
int modelModuleAnchor = 0;
} // namespace corvane
