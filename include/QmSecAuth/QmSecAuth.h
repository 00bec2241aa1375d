// Everything of namespace QmSecAuth.
#pragma once

#include "QmSecAuth/AuthorizationPolicyException.h"
#include "QmSecAuth/NotAuthorizedException.h"
#include "QmSecAuth/SecAuthException.h"
