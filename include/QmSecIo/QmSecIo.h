// Everything of namespace QmSecIo.
#pragma once
