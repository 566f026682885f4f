#!/usr/bin/env bash
echo hi
