namespace corvane {
// Anchors the library until its first real source lands.
int tasksModuleAnchor = 0;
} // namespace corvane
