// Everything of namespace QmSecAuth.
#pragma once

#include "QmSecAuth/AuthorizationPolicyException.h"
#include "QmSecAuth/Authorizer.h"
#include "QmSecAuth/AuthorizerSnapshot.h"
#include "QmSecAuth/NotAuthorizedException.h"
#include "QmSecAuth/PolicyData.h"
#include "QmSecAuth/SecAuthException.h"
