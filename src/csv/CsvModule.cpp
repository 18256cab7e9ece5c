namespace corvane {
// Anchors the library until its first real source lands.
int csvModuleAnchor = 0;
} // namespace corvane
