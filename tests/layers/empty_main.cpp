// The program of a link check: the library under test is linked whole around it.
int main() {
  return 0;
}
