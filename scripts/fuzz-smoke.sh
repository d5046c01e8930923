#!/usr/bin/env bash
echo "fuzz-smoke: nothing to do yet"
