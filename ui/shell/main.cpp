#include "ui/shell/WebSnagger.h"

int main(int argc, char** argv) {
    WebSnagger app(argc, argv);
    return app.run();
}
