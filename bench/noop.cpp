// The process-start floor: a GUI program that does nothing. Linked like the installer (static
// runtime, GUI subsystem), so that what it costs is what any program of ours pays before its
// first line runs.
int main() { return 0; }
