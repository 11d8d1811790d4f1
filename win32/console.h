// Console output in UTF-8, the encoding of every text the programs print (a system error text
// in the user's language among them), whatever the console's code page.
#pragma once

namespace tovrik::win {

// While one exists, the console shows what is written to it as UTF-8; the console's own code
// page comes back after, since it outlives the program.
class Utf8ConsoleOutput {
  public:
    Utf8ConsoleOutput();
    ~Utf8ConsoleOutput();
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

  private:
    unsigned previous_ = 0;  // 0: left as it was
};

}  // namespace tovrik::win
