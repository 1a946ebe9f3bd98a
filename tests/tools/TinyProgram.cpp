// A minimal Windows program: the launcher stand-in that the stamping tests write resources into.
int main()
{
    return 7;
}
