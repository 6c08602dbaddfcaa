#include "baseparser.h"

BaseParser::~BaseParser() = default;
