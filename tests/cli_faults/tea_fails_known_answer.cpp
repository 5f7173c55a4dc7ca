// Linked into kryvane-cli-kat-fault with --wrap=<Tea::SelfTest>: the menus' Tea then fails its
// known-answer test, as it would in a build whose Tea is broken, while every other class and all
// of the program stay as shipped.

extern "C" bool __real__ZN7kryvane3Tea8SelfTestEv();

extern "C" bool __wrap__ZN7kryvane3Tea8SelfTestEv() {
  // The real test runs, so that the fault is in the answer and not in a test that never ran.
  return !__real__ZN7kryvane3Tea8SelfTestEv();
}
