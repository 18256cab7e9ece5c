namespace corvane {
// Anchors the library until its first real source lands.
int preferencesModuleAnchor = 0;
} // namespace corvane
