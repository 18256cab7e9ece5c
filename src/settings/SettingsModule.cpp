namespace corvane {
// Anchors the library until its first real source lands.
int settingsModuleAnchor = 0;
} // namespace corvane
