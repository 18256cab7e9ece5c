namespace corvane {
// Anchors the library until its first real source lands.
int appModuleAnchor = 0;
} // namespace corvane
