// A program that does nothing, built twice with different version information: the
// executables whose "FileVersion" the payload writer compares.
int main() { return 0; }
