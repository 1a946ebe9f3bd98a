/* A program that only carries a version resource, for the version comparison tests. */
int main(void) { return 0; }
